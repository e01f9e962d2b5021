// Timing annotations for timed runs (QRN_TIME=cycles): how each component's
// loop is pipelined, and the cycles a component or the test bench spends.
// Without QRN_TIME these cost one test and change nothing. See docs/timed.md
// for the rules.
//
//   qrn::launch_always_run<stage>(qrn::timing{2, 5}, in, out);  // ii 2, latency 5
//   qrn::launch_task<timer>(qrn::not_pipelined(2), done);        // 2 states
//   qrn::new_iteration();                                        // top of a task's loop body
//   qrn::at_stage(2);                                            // what follows: at stage 2
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

// The timing of a loop that is not pipelined, of `states` states (at least
// 1): an iteration every `states` cycles, the next starting when the last
// state ends; writes not placed by qrn::at_stage sit in the last state.
constexpr timing not_pipelined(unsigned int states) {
  return timing{states, states > 0 ? states - 1 : 0};
}

// The caller's stream accesses that follow, up to the next qrn::at_stage or
// the end of the iteration, sit at stage (or state) `stage` of the current
// iteration: `stage` cycles after it starts, as a schedule report places
// them. A read there that finds no element, or a write that finds no room,
// holds the whole iteration back. Without it reads sit at stage 0 and writes
// at the latency.
inline void at_stage(unsigned int stage) {
  if (internal::fiber_scheduling() && internal::timed_run()) {
    internal::timed_ops().place(stage);
  }
}

// Marks the start of an iteration of the calling task's loop (call it at
// the top of the loop body): the iteration starts ii cycles after the one
// before (later if that one stalled), and each stream end may move one
// element per cycle. A task without the mark paces each stream end at one
// element per ii cycles instead. In an always-running component each call
// is one iteration already, and the mark only ends the call's stages.
inline void new_iteration() {
  if (internal::fiber_scheduling() && internal::timed_run()) {
    internal::timed_ops().new_iteration();
  }
}

// The caller's clock, in cycles: the start of a component's or marked
// task's current iteration (its next operation when it names no stage), an
// unmarked task's next operation, or the test bench's latest transfer. 0
// when the run is not timed.
inline std::uint64_t cycle() {
  return internal::fiber_scheduling() && internal::timed_run() ? internal::timed_ops().cycle() : 0;
}

}  // namespace qrn

#endif  // QRN_HLS_TIMING_H
