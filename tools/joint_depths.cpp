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

joint_vector least_storage(const event_graph& graph, const joint_limits& limits,
                           std::uint64_t unbounded, double slack) {
  const auto budget =
      unbounded + static_cast<std::uint64_t>(std::floor(static_cast<double>(unbounded) * slack));
  joint_vector best;
  for (std::size_t s = 0; s < limits.ceiling.size(); ++s) {
    best.depths.push_back(limits.ceiling[s] != 0 ? limits.ceiling[s] : limits.fixed[s]);
  }
  const auto cycles_at = [&graph](const std::vector<std::uint64_t>& depths) -> std::uint64_t {
    const evaluation e = graph.evaluate(depths);
    return e.verdict == evaluation::kind::cycles ? e.cycles : UINT64_MAX;
  };
  best.cycles = cycles_at(best.depths);
  best.bits = storage_bits(graph, limits, best.depths);
  if (best.cycles > budget) {
    return best;  // not even the ceilings keep within the slack
  }
  std::vector<std::size_t> order;
  for (std::size_t s = 0; s < limits.ceiling.size(); ++s) {
    if (limits.ceiling[s] != 0) {
      order.push_back(s);
    }
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const std::uint64_t wide_a = limits.ceiling[a] * graph.streams()[a].element_bits;
    const std::uint64_t wide_b = limits.ceiling[b] * graph.streams()[b].element_bits;
    return wide_a > wide_b;
  });
  for (bool changed = true; changed;) {
    changed = false;
    for (const std::size_t s : order) {
      std::vector<std::uint64_t> depths = best.depths;
      std::uint64_t lo = 1;
      std::uint64_t hi = best.depths[s];  // fits
      while (lo < hi) {
        depths[s] = lo + (hi - lo) / 2;
        if (cycles_at(depths) <= budget) {
          hi = depths[s];
        } else {
          lo = depths[s] + 1;
        }
      }
      if (hi < best.depths[s]) {
        best.depths[s] = hi;
        changed = true;
      }
    }
  }
  best.found = true;
  best.cycles = cycles_at(best.depths);
  best.bits = storage_bits(graph, limits, best.depths);
  return best;
}

std::vector<joint_vector> trade_off(const event_graph& graph, const joint_limits& limits,
                                    std::uint64_t unbounded, double slack) {
  std::vector<double> slacks = {0, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 4};
  slacks.push_back(slack);
  std::vector<joint_vector> points(slacks.size());
  parallel_for(slacks.size(), [&](std::size_t i) {
    points[i] = least_storage(graph, limits, unbounded, slacks[i]);
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
