// The runtime's side of timed runs (QRN_TIME=cycles; see
// HLS/internal/timed_run.h): each stream's timestamps and cycle statistics,
// the test bench's clock, and the design's totals. Main thread only.
#ifndef QRN_RUNTIME_TIMED_TOTALS_H
#define QRN_RUNTIME_TIMED_TOTALS_H

#include <cstdint>
#include <string>

#include "HLS/internal/stream_registry.h"

namespace qrn_runtime {

struct design_cycles {
  std::uint64_t cycles = 0;             // the cycle after the last transfer of any stream
  std::uint64_t first_bench_read = 0;   // the cycle of the test bench's first read, + 1; 0: none
  std::uint64_t last_event = 0;         // the last transfer's event (critical_path.h)
  std::uint64_t last_output = 0;        // the cycle of the test bench's last read, + 1; 0: none
  std::uint64_t last_output_event = 0;  // its event
};

const design_cycles& design_totals();

// The stream's cycle statistics with its occupancy accounted up to its
// last transfer so far, for a report at any time; the run goes on
// unchanged.
qrn::internal::stream_cycle_stats cycle_stats_so_far(qrn::internal::stream_info& info);
// Accounts every live stream's occupancy up to its last transfer, once the
// run is over (the trace's occupancy goes out with it).
void finish_all_cycle_stats();

// The caller's cycle: a fiber's clock, or the test bench's latest transfer.
std::uint64_t timed_cycle_now();

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_TIMED_TOTALS_H
