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
  // An element of `stream` entered at `cycle`, or was read at `cycle`.
  // An enter is swept no sooner than the next event, so that unenter()
  // always finds it.
  void entered(std::uint64_t cycle, qrn::internal::stream_info& stream) {
    sweep_some(stream);
    enters_.push_back(cycle);
    last_enter_ = cycle;
  }
  void read(std::uint64_t cycle, qrn::internal::stream_info& stream) {
    reads_.push_back(cycle + 1);  // its slot is free from the next cycle on
    last_read_ = cycle + 1;
    any_read_ = true;
    sweep_some(stream);
  }
  // The last entered() did not happen (its write threw).
  void unenter() { enters_.pop_back(); }
  // Accounts every event known, once the run is over: for the report.
  void finish(qrn::internal::stream_info& stream) {
    sweep(stream, true);
    trace_change(stream);
  }
  // The statistics finish() would give, the sweep left as it is: for a
  // report while the run goes on, whose later events may still come before
  // the last one known.
  qrn::internal::stream_cycle_stats finished_stats(qrn::internal::stream_info& stream) const {
    occupancy_sweep rest = *this;
    qrn::internal::stream_cycle_stats stats = stream.cycle_stats();
    rest.sweep_to<false>(stream, never - 1, stats);
    return stats;
  }

 private:
  // Sweeps once every `batch` events, which costs less per event (and
  // nothing per event while what is in flight cannot be swept yet).
  void sweep_some(qrn::internal::stream_info& stream) {
    if (++since_sweep_ >= batch) {
      since_sweep_ = 0;
      sweep(stream, false);
    }
  }

  static constexpr std::size_t batch = 256;

  // Accounts the events up to the latest cycle known of both kinds (all of
  // them when `all`), in cycle order, a read before an enter of its cycle;
  // the stream's depth as it is now counts the cycles full.
  void sweep(qrn::internal::stream_info& stream, bool all) {
    if (!all && !any_read_) {
      return;
    }
    const std::uint64_t limit =
        all ? never - 1 : (last_enter_ < last_read_ ? last_enter_ : last_read_);
    if (qrn::internal::tracing()) {
      sweep_to<true>(stream, limit, stream.cycle_stats());
    } else {
      sweep_to<false>(stream, limit, stream.cycle_stats());
    }
  }

  // Enters, once all swept, stand at cycle `never`, which no event reaches.
  static constexpr std::uint64_t never = UINT64_MAX;

  // The sweep up to `limit` into `stats`, tracing each change when `traced`. The loop
  // keeps its figures and the rings' positions in locals: the rings' values
  // and positions are words of one type, which every store (and a traced
  // change's call) would make it read again. The span is the cycle swept to.
  template <bool traced>
  void sweep_to(qrn::internal::stream_info& stream, std::uint64_t limit,
                qrn::internal::stream_cycle_stats& stats) {
    const std::size_t capacity = stream.depth().capacity;
    const std::uint64_t full_from =  // the elements held that fill it
        capacity == qrn::internal::unbounded_capacity || capacity == 0 ? never : capacity;
    std::uint64_t peak = stats.peak;
    std::uint64_t occupancy_cycles = stats.occupancy_cycles;
    std::uint64_t cycles_full = stats.cycles_full;
    std::uint64_t cycles_empty = stats.cycles_empty;
    std::uint64_t held = held_;
    std::uint64_t at = at_;
    std::uint64_t changes = changes_;
    bool changed = changed_;
    bool last_added = last_added_;
    const value_ring<std::uint64_t>::view read_cycles = reads_.values();
    const value_ring<std::uint64_t>::view enter_cycles = enters_.values();
    const std::size_t reads = reads_.size();
    const std::size_t enters = enters_.size();
    std::size_t r = 0;  // swept so far
    std::size_t e = 0;
    // The cycles from `at` on held `held` elements, up to `cycle`.
    const auto account_to = [&](std::uint64_t cycle) {
      if (cycle > at) {
        if (changed) {
          changed = false;
          ++changes;
          if (traced) {
            trace_cycle_occupancy(stream, at, held, last_added, changes);
          }
        }
        const std::uint64_t cycles = cycle - at;
        occupancy_cycles += held * cycles;
        cycles_empty += held == 0 ? cycles : 0;
        cycles_full += held >= full_from ? cycles : 0;
        at = cycle;
      }
    };
    for (;;) {
      const std::uint64_t next_enter = e != enters ? enter_cycles[e] : never;
      // The reads up to that enter's cycle come first.
      const std::uint64_t reads_to = next_enter < limit ? next_enter : limit;
      for (; r != reads && read_cycles[r] <= reads_to; ++r) {
        account_to(read_cycles[r]);
        held -= held != 0 ? 1 : 0;
        changed = true;
        last_added = false;
      }
      if (next_enter > limit) {
        break;
      }
      ++e;
      account_to(next_enter);
      ++held;
      peak = held > peak ? held : peak;
      changed = true;
      last_added = true;
    }
    reads_.drop_front(r);
    enters_.drop_front(e);
    stats.peak = peak;
    stats.occupancy_cycles = occupancy_cycles;
    stats.cycles_full = cycles_full;
    stats.cycles_empty = cycles_empty;
    stats.span = at;
    held_ = held;
    at_ = at;
    changes_ = changes;
    changed_ = changed;
    last_added_ = last_added;
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
