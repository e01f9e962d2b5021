#include "joint_depths.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "parallel_for.h"

namespace qrn_tools {

std::uint64_t storage_bits(const event_graph& graph, const joint_limits& limits,
                           const std::vector<std::uint64_t>& depths) {
  std::uint64_t bits = 0;
  for (std::size_t s = 0; s < depths.size(); ++s) {
    if (limits.ceiling[s] != 0) {
      bits += depths[s] * graph.streams()[s].element_bits;
    }
  }
  return bits;
}

namespace {

// The exact search of least_storage: depth-first over the streams it may
// change, widest first, each from the smallest depth that keeps the run
// within the budget (the streams not yet set at their ceilings: any vector
// within the budget stays within it when a depth grows) up to where the
// storage, with every stream not yet set at its lower bound, reaches the
// best vector found so far.
class storage_search {
 public:
  storage_search(const event_graph& graph, const joint_limits& limits, std::uint64_t budget,
                 std::uint64_t evaluations)
      : graph_(graph), budget_(budget), evaluations_left_(evaluations) {
    for (std::size_t s = 0; s < limits.ceiling.size(); ++s) {
      ceilings_.push_back(limits.ceiling[s] != 0 ? limits.ceiling[s] : limits.fixed[s]);
      bits_.push_back(limits.ceiling[s] != 0 ? graph.streams()[s].element_bits : 0);
    }
    base_ = graph.value(ceilings_);
  }

  bool exhausted() const { return evaluations_left_ == 0; }

  // Whether `depths` (none larger than the ceilings) keep within the budget;
  // false, and the search no longer exact, once the evaluations run out.
  bool fits(const std::vector<std::uint64_t>& depths) {
    if (evaluations_left_ == 0) {
      return false;
    }
    --evaluations_left_;
    const evaluation e = graph_.evaluate(depths, base_);
    return e.verdict == evaluation::kind::cycles && e.cycles <= budget_;
  }

  bool ceilings_fit() { return fits(ceilings_); }

  // The smallest depth of stream `s` in [lo, top] that fits, the others as
  // in `depths`, or top + 1 for none; `depths` with stream `s` at top + 1
  // or more fits.
  std::uint64_t smallest(std::vector<std::uint64_t>& depths, std::size_t s, std::uint64_t lo,
                         std::uint64_t top) {
    const std::uint64_t at = depths[s];
    std::uint64_t hi = top + 1;
    while (lo < hi) {
      depths[s] = lo + (hi - lo) / 2;
      if (fits(depths)) {
        hi = depths[s];
      } else {
        lo = depths[s] + 1;
      }
    }
    depths[s] = at;
    return hi;
  }

  // Every stream's lower bound: its smallest depth with the others at their ceilings.
  void bound() {
    lower_ = ceilings_;
    for (std::size_t s = 0; s < ceilings_.size(); ++s) {
      if (bits_[s] != 0) {
        lower_[s] = smallest(ceilings_, s, 1, ceilings_[s] - 1);
      }
    }
    for (std::size_t s = 0; s < ceilings_.size(); ++s) {
      if (bits_[s] != 0 && lower_[s] < ceilings_[s]) {
        order_.push_back(s);
      }
    }
    std::stable_sort(order_.begin(), order_.end(),
                     [this](std::size_t a, std::size_t b) { return bits_[a] > bits_[b]; });
  }

  // The descent: stream by stream, widest first, the smallest depth that
  // fits, the others as they stand, until a pass changes nothing. Its result
  // starts the exact search as the best so far, which then takes first the
  // streams the descent left above their lower bounds: those that share a
  // need with others.
  void descend() {
    best_ = ceilings_;
    for (bool changed = true; changed && !exhausted();) {
      changed = false;
      for (const std::size_t s : order_) {
        const std::uint64_t depth = smallest(best_, s, lower_[s], best_[s] - 1);
        changed = changed || depth < best_[s];
        best_[s] = depth;
      }
    }
    best_bits_ = storage(best_);
    std::stable_partition(order_.begin(), order_.end(),
                          [this](std::size_t s) { return best_[s] > lower_[s]; });
  }

  // The exact search below the best so far; false when it ran out of evaluations.
  bool search() {
    std::vector<std::uint64_t> depths = ceilings_;
    std::uint64_t fixed = storage(ceilings_);
    for (const std::size_t s : order_) {
      fixed -= ceilings_[s] * bits_[s];
    }
    walk(depths, 0, fixed, lower_);
    return !exhausted();
  }

  const std::vector<std::uint64_t>& best() const { return best_; }
  const std::vector<std::uint64_t>& ceilings() const { return ceilings_; }

  std::uint64_t storage(const std::vector<std::uint64_t>& depths) const {
    std::uint64_t total = 0;
    for (std::size_t s = 0; s < depths.size(); ++s) {
      total += depths[s] * bits_[s];
    }
    return total;
  }

 private:
  // Streams order_[0, i) are set in `depths`, the others at their ceilings
  // (which fits); `set` is the storage so far (streams the search may not
  // change included). `lows` holds lower bounds of the streams not yet set,
  // raised here to their smallest depths with the streams set as they are
  // (and the others at their ceilings): bounds that grow as the walk goes
  // down and cut most branches early.
  void walk(std::vector<std::uint64_t>& depths, std::size_t i, std::uint64_t set,
            std::vector<std::uint64_t> lows) {
    if (i == order_.size()) {
      if (set < best_bits_) {
        best_ = depths;
        best_bits_ = set;
      }
      return;
    }
    std::uint64_t open = 0;  // the storage of the bounds of the streams not yet set
    for (std::size_t k = i; k < order_.size(); ++k) {
      open += lows[order_[k]] * bits_[order_[k]];
    }
    for (std::size_t k = i; k < order_.size(); ++k) {
      const std::size_t t = order_[k];
      if (set + open >= best_bits_) {
        return;  // every vector below costs at least the best so far
      }
      // The deepest t may be for a vector below to cost less.
      const std::uint64_t top =
          std::min(ceilings_[t], lows[t] + (best_bits_ - 1 - set - open) / bits_[t]);
      const std::uint64_t low = smallest(depths, t, lows[t], top);
      open += (low - lows[t]) * bits_[t];
      lows[t] = low;
      if (low > top || exhausted()) {
        return;
      }
    }
    const std::size_t s = order_[i];
    const std::uint64_t rest = open - lows[s] * bits_[s];
    const std::uint64_t top = std::min(ceilings_[s], (best_bits_ - 1 - set - rest) / bits_[s]);
    for (std::uint64_t depth = lows[s]; depth <= top && !exhausted(); ++depth) {
      depths[s] = depth;
      // With the streams not yet set at their bounds, nothing below costs
      // less: take it, and no deeper `depth` can do better.
      std::vector<std::uint64_t> lowest = depths;
      for (std::size_t k = i + 1; k < order_.size(); ++k) {
        lowest[order_[k]] = lows[order_[k]];
      }
      if (fits(lowest)) {
        best_ = lowest;
        best_bits_ = set + depth * bits_[s] + rest;
        break;
      }
      walk(depths, i + 1, set + depth * bits_[s], lows);
    }
    depths[s] = ceilings_[s];
  }

  const event_graph& graph_;
  std::uint64_t budget_;
  std::uint64_t evaluations_left_;
  std::vector<std::uint64_t> ceilings_;
  std::vector<std::uint64_t> bits_;  // per stream; 0 for the streams it may not change
  std::vector<std::uint64_t> lower_;
  std::vector<std::size_t> order_;  // the streams it may change whose depth is open, widest first
  std::vector<std::uint64_t> best_;
  std::uint64_t best_bits_ = 0;
  valuation base_;
};

}  // namespace

joint_vector least_storage(const event_graph& graph, const joint_limits& limits,
                           std::uint64_t unbounded, double slack, std::uint64_t evaluations) {
  const auto budget =
      unbounded + static_cast<std::uint64_t>(std::floor(static_cast<double>(unbounded) * slack));
  storage_search search(graph, limits, budget, evaluations);
  joint_vector result;
  if (!search.ceilings_fit()) {
    result.depths = search.ceilings();  // not even the ceilings keep within the slack
  } else {
    search.bound();
    search.descend();
    result.found = true;
    result.least = search.search();
    result.depths = search.best();
  }
  const evaluation e = graph.evaluate(result.depths);
  result.cycles = e.verdict == evaluation::kind::cycles ? e.cycles : 0;
  result.bits = storage_bits(graph, limits, result.depths);
  return result;
}

std::vector<joint_vector> trade_off(const event_graph& graph, const joint_limits& limits,
                                    std::uint64_t unbounded, double slack,
                                    std::uint64_t curve_evaluations) {
  std::vector<double> slacks = {0, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 4};
  slacks.push_back(slack);
  std::vector<joint_vector> points(slacks.size());
  parallel_for(slacks.size(), [&](std::size_t i) {
    points[i] = least_storage(graph, limits, unbounded, slacks[i], curve_evaluations);
  });
  std::sort(points.begin(), points.end(), [](const joint_vector& a, const joint_vector& b) {
    return a.cycles != b.cycles ? a.cycles < b.cycles : a.bits < b.bits;
  });
  std::vector<joint_vector> curve;
  for (const joint_vector& point : points) {
    if (point.found && (curve.empty() || point.bits < curve.back().bits)) {
      curve.push_back(point);
    }
  }
  return curve;
}

std::string trade_off_svg(const std::vector<joint_vector>& curve, std::uint64_t unbounded) {
  constexpr double width = 640, height = 400, left = 80, right = 20, top = 40, bottom = 50;
  std::uint64_t max_cycles = unbounded + 1;
  std::uint64_t max_bits = 1;
  for (const joint_vector& point : curve) {
    max_cycles = std::max(max_cycles, point.cycles);
    max_bits = std::max(max_bits, point.bits);
  }
  const auto x = [&](std::uint64_t cycles) {
    return left + (width - left - right) * static_cast<double>(cycles - unbounded) /
                      static_cast<double>(max_cycles - unbounded);
  };
  const auto y = [&](std::uint64_t bits) {
    return height - bottom -
           (height - top - bottom) * static_cast<double>(bits) / static_cast<double>(max_bits);
  };
  std::ostringstream svg;
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text x=\"" << width / 2 << "\" y=\"20\" text-anchor=\"middle\" font-size=\"14\">"
      << "FIFO storage against cycles</text>\n"
      << "<line x1=\"" << left << "\" y1=\"" << height - bottom << "\" x2=\"" << width - right
      << "\" y2=\"" << height - bottom << "\" stroke=\"black\"/>\n"
      << "<line x1=\"" << left << "\" y1=\"" << top << "\" x2=\"" << left << "\" y2=\""
      << height - bottom << "\" stroke=\"black\"/>\n"
      << "<text x=\"" << (left + width - right) / 2 << "\" y=\"" << height - 10
      << "\" text-anchor=\"middle\">cycles</text>\n"
      << "<text x=\"15\" y=\"" << (top + height - bottom) / 2 << "\" transform=\"rotate(-90 15 "
      << (top + height - bottom) / 2 << ")\" text-anchor=\"middle\">storage (bits)</text>\n"
      << "<text x=\"" << left << "\" y=\"" << height - bottom + 16 << "\" text-anchor=\"middle\">"
      << unbounded << "</text>\n"
      << "<text x=\"" << width - right << "\" y=\"" << height - bottom + 16
      << "\" text-anchor=\"end\">" << max_cycles << "</text>\n"
      << "<text x=\"" << left - 5 << "\" y=\"" << top + 4 << "\" text-anchor=\"end\">" << max_bits
      << "</text>\n"
      << "<text x=\"" << left - 5 << "\" y=\"" << height - bottom
      << "\" text-anchor=\"end\">0</text>\n"
      << "<polyline fill=\"none\" stroke=\"steelblue\" stroke-width=\"2\" points=\"";
  for (const joint_vector& point : curve) {
    svg << x(point.cycles) << ',' << y(point.bits) << ' ';
  }
  svg << "\"/>\n";
  for (const joint_vector& point : curve) {
    svg << "<circle cx=\"" << x(point.cycles) << "\" cy=\"" << y(point.bits)
        << "\" r=\"4\" fill=\"steelblue\"><title>" << point.cycles << " cycles, " << point.bits
        << " bits</title></circle>\n";
  }
  svg << "</svg>\n";
  return svg.str();
}

}  // namespace qrn_tools
