// Timing annotations for timed runs (QRN_TIME=cycles): how each component's
// loop is pipelined, and the cycles a component or the test bench spends.
// Without QRN_TIME these cost one test and change nothing. See docs/timed.md
// for the rules.
//
//   qrn::launch_always_run<stage>(qrn::timing{2, 5}, in, out);  // ii 2, latency 5
//   qrn::cycles(3);                                              // spend 3 cycles
//   std::uint64_t now = qrn::cycle();                           // 0 when not timed
#ifndef QRN_HLS_TIMING_H
#define QRN_HLS_TIMING_H

#include <cstdint>

#include "HLS/internal/scheduler.h"
#include "HLS/internal/timed_run.h"

namespace qrn {

// The timing of components launched without a qrn::timing (launch_always_run<f>()
// included): {1, 1} unless set. Call it before the first launch, from the
// test bench's thread.
inline void set_default_timing(timing pace) { internal::default_component_timing() = pace; }

// The calling component, task or test bench spends `n` cycles: its clock
// moves n cycles on (a component's), or its later transfers come no earlier
// than n cycles after its latest one (the test bench's). An operation at
// cycle t followed by qrn::cycles(n) puts the next at t + n at the earliest:
// a burst at cycles 0 to 15 followed by qrn::cycles(17) starts the next
// burst at 32, 16 idle cycles later.
inline void cycles(std::uint64_t n) {
  if (internal::fiber_scheduling() && internal::timed_run()) {
    internal::timed_ops().spend(n);
  }
}

// The caller's clock, in cycles: a component's next operation, or the test
// bench's latest transfer. 0 when the run is not timed.
inline std::uint64_t cycle() {
  return internal::fiber_scheduling() && internal::timed_run() ? internal::timed_ops().cycle() : 0;
}

}  // namespace qrn

#endif  // QRN_HLS_TIMING_H
