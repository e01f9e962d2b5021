// A stream's occupancy over cycles in a timed run, from the cycles its
// elements enter and leave.
//
// Enters come in increasing cycles and so do reads (each end moves one
// element per cycle), but a writer's fiber may run ahead of its reader's or
// behind it, so the two sequences arrive interleaved in any order. The
// sweep merges them: an event is accounted once no later event can come
// before it, that is up to the latest cycle known of both kinds. An element
// holds its slot from the cycle it enters through the cycle it is read (a
// write finds room one cycle after the read), so the peak is the depth
// that never holds the writer back. What is not yet swept stays queued: the
// elements in flight, nothing per element moved. While a trace is
// recorded, the occupancy of each cycle in which it changed goes to it.
//
// Main thread only.
#ifndef QRN_RUNTIME_TIMED_OCCUPANCY_H
#define QRN_RUNTIME_TIMED_OCCUPANCY_H

#include <cstdint>

#include "HLS/internal/stream_registry.h"
#include "HLS/internal/timed_run.h"
#include "HLS/internal/trace.h"
#include "trace_recorder.h"
#include "value_ring.h"

namespace qrn_runtime {

class occupancy_sweep {
 public:
  // An element of `stream` entered at `cycle`, or was read at `cycle`;
  // `depth` counts the cycles full (0: unbounded).
  void entered(std::uint64_t cycle, qrn::internal::stream_info& stream, std::uint64_t depth) {
    enters_.push_back(cycle);
    last_enter_ = cycle;
    sweep_some(stream, depth);
  }
  void read(std::uint64_t cycle, qrn::internal::stream_info& stream, std::uint64_t depth) {
    reads_.push_back(cycle + 1);  // its slot is free from the next cycle on
    last_read_ = cycle + 1;
    any_read_ = true;
    sweep_some(stream, depth);
  }
  // The last entered() did not happen (its write threw), unless it was
  // already swept.
  void unenter() {
    if (!enters_.empty()) {
      enters_.pop_back();
    }
  }
  // Accounts every event known: for the report.
  void finish(qrn::internal::stream_info& stream, std::uint64_t depth) {
    sweep(stream, depth, true);
    trace_change(stream);
  }

 private:
  // Sweeps once every `batch` events, which costs less per event (and
  // nothing per event while what is in flight cannot be swept yet).
  void sweep_some(qrn::internal::stream_info& stream, std::uint64_t depth) {
    if (++since_sweep_ >= batch) {
      since_sweep_ = 0;
      sweep(stream, depth, false);
    }
  }

  static constexpr std::size_t batch = 256;

  void sweep(qrn::internal::stream_info& stream, std::uint64_t depth, bool all) {
    qrn::internal::stream_cycle_stats& stats = stream.cycle_stats();
    const std::uint64_t limit = last_enter_ < last_read_ ? last_enter_ : last_read_;
    if (!all && !any_read_) {
      return;
    }
    for (;;) {
      const bool read_next =
          !reads_.empty() && (enters_.empty() || reads_.front() <= enters_.front());
      value_ring<std::uint64_t>& next = read_next ? reads_ : enters_;
      if (next.empty() || (!all && next.front() > limit)) {
        return;
      }
      account_until(next.front(), stream, depth);
      next.pop_front();
      if (read_next) {
        held_ -= held_ != 0 ? 1 : 0;
      } else if (++held_ > stats.peak) {
        stats.peak = held_;
      }
      changed_ = true;
      last_added_ = !read_next;
    }
  }

  void account_until(std::uint64_t cycle, qrn::internal::stream_info& stream, std::uint64_t depth) {
    if (cycle <= at_) {
      return;
    }
    trace_change(stream);
    qrn::internal::stream_cycle_stats& stats = stream.cycle_stats();
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

  // The occupancy from cycle at_ on, once every change at at_ is swept.
  void trace_change(const qrn::internal::stream_info& stream) {
    if (changed_) {
      changed_ = false;
      ++changes_;
      if (qrn::internal::tracing()) {
        trace_cycle_occupancy(stream, at_, held_, last_added_, changes_);
      }
    }
  }

  value_ring<std::uint64_t> enters_;  // not yet swept, increasing
  value_ring<std::uint64_t> reads_;   // not yet swept, increasing: the cycles after the reads
  std::uint64_t last_enter_ = 0;
  std::uint64_t last_read_ = 0;
  bool any_read_ = false;
  std::uint64_t held_ = 0;  // elements held at cycle at_
  std::uint64_t at_ = 0;    // cycles before this one are accounted
  bool changed_ = false;    // held_ changed at at_ and is not traced yet
  bool last_added_ = false;
  std::uint64_t changes_ = 0;    // traced so far
  std::size_t since_sweep_ = 0;  // events since the last sweep_some() that swept
};

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_TIMED_OCCUPANCY_H
