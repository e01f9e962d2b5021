// A stream's occupancy over cycles in a timed run, from the cycles its
// elements enter and leave.
//
// Enters come in increasing cycles and so do reads (each end moves one
// element per cycle), but a writer's fiber may run ahead of its reader's or
// behind it, so the two sequences arrive interleaved in any order. The
// sweep merges them: an event is accounted once no later event can come
// before it, that is up to the latest cycle known of both kinds. At one
// cycle, reads count before enters, so an element that leaves as another
// enters leaves room for it. What is not yet swept stays queued: the
// elements in flight, nothing per element moved.
//
// Main thread only.
#ifndef QRN_RUNTIME_TIMED_OCCUPANCY_H
#define QRN_RUNTIME_TIMED_OCCUPANCY_H

#include <cstdint>
#include <deque>

#include "HLS/internal/timed_run.h"

namespace qrn_runtime {

class occupancy_sweep {
 public:
  // An element entered at `cycle`, or was read at `cycle`; `depth` counts
  // the cycles full (0: unbounded).
  void entered(std::uint64_t cycle, std::uint64_t depth, qrn::internal::stream_cycle_stats& stats) {
    enters_.push_back(cycle);
    last_enter_ = cycle;
    sweep(depth, stats, false);
  }
  void read(std::uint64_t cycle, std::uint64_t depth, qrn::internal::stream_cycle_stats& stats) {
    reads_.push_back(cycle);
    last_read_ = cycle;
    any_read_ = true;
    sweep(depth, stats, false);
  }
  // Accounts every event known: for the report.
  void finish(std::uint64_t depth, qrn::internal::stream_cycle_stats& stats) {
    sweep(depth, stats, true);
  }

 private:
  void sweep(std::uint64_t depth, qrn::internal::stream_cycle_stats& stats, bool all) {
    const std::uint64_t limit = last_enter_ < last_read_ ? last_enter_ : last_read_;
    if (!all && !any_read_) {
      return;
    }
    for (;;) {
      const bool read_next = !reads_.empty() && (enters_.empty() || reads_.front() <= enters_.front());
      std::deque<std::uint64_t>& next = read_next ? reads_ : enters_;
      if (next.empty() || (!all && next.front() > limit)) {
        return;
      }
      account_until(next.front(), depth, stats);
      next.pop_front();
      if (read_next) {
        held_ -= held_ != 0 ? 1 : 0;
      } else if (++held_ > stats.peak) {
        stats.peak = held_;
      }
    }
  }

  void account_until(std::uint64_t cycle, std::uint64_t depth,
                     qrn::internal::stream_cycle_stats& stats) {
    if (cycle <= at_) {
      return;
    }
    const std::uint64_t cycles = cycle - at_;
    stats.occupancy_cycles += held_ * cycles;
    if (held_ == 0) {
      stats.cycles_empty += cycles;
    }
    if (depth != 0 && held_ >= depth) {
      stats.cycles_full += cycles;
    }
    stats.span = cycle;
    at_ = cycle;
  }

  std::deque<std::uint64_t> enters_;  // not yet swept, increasing
  std::deque<std::uint64_t> reads_;   // not yet swept, increasing
  std::uint64_t last_enter_ = 0;
  std::uint64_t last_read_ = 0;
  bool any_read_ = false;
  std::uint64_t held_ = 0;  // elements held at cycle at_
  std::uint64_t at_ = 0;    // cycles before this one are accounted
};

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_TIMED_OCCUPANCY_H
