// The loop of an always-running component.
#ifndef QRN_HLS_INTERNAL_ALWAYS_RUN_LOOP_H
#define QRN_HLS_INTERNAL_ALWAYS_RUN_LOOP_H

#include <atomic>
#include <cstdint>

#include "HLS/internal/activity.h"
#include "HLS/internal/component_stop.h"
#include "HLS/internal/idle_worker.h"
#include "HLS/internal/parking.h"
#include "HLS/internal/scheduler.h"
#include "HLS/internal/trace.h"

namespace qrn {
namespace internal {

// Calls `call` back to back and never returns. After each call it publishes
// the call and, when the call moved stream elements, the worker thread's
// moved count, and tells a trace being recorded (see trace.h); then it tells
// `pacer`: the idle worker, which parks the thread for a while when calls
// keep moving nothing (see idle_worker.h), or with fibers the fiber pacer
// (see scheduler.h).
//
// The call count is a release store (a plain store on x86-64, where a
// sequentially consistent one is a locked exchange per call). That is enough:
// the moved count is published with it, and a call that locks a stream before
// a test bench writes to it has stored the count of the calls before it, so a
// snapshot the bench takes after the write sees that count and waits for the
// calls after that one.
template <typename Pacer, typename Call>
[[noreturn]] void run_calls(always_run_record& record, Pacer& pacer, Call& call) {
  const std::uint64_t& moved = moved_elements();
  std::uint64_t published_moved = moved;
  std::uint64_t moving_calls = 0;
  for (std::uint64_t calls = 1;; ++calls) {
    call();
    const bool moved_any = moved != published_moved;
    if (moved_any) {
      published_moved = moved;
      record.moved.store(published_moved, std::memory_order_release);
      record.moving_calls.store(++moving_calls, std::memory_order_relaxed);
    }
    record.calls.store(calls, std::memory_order_release);
    // Both rare: one test for the two.
    if (__builtin_expect(static_cast<int>(tracing()) | static_cast<int>(record.stop_requested.load(
                                                           std::memory_order_relaxed)),
                         0)) {
      trace_call_returned(moved);
      if (record.stop_requested.load(std::memory_order_relaxed)) {
        halt_this_thread();  // a stream it used is being destroyed
      }
    }
    if (moved_any) {
      pacer.busy_call();
    } else {
      pacer.idle_call();
    }
  }
}

// The loop of the always-running component whose activity is `record` and
// whose parking state (and poll log) is `idle`.
template <typename Call>
[[noreturn]] void run_always(always_run_record& record, idle_worker& idle, Call call) {
  enter_component(record);
  current_poll_log() = &idle.log();
  if (fiber_scheduling() && timed_run()) {
    fiber_pacer<true> pacer(idle.log(), &record.clock);
    run_calls(record, pacer, call);
  }
  if (fiber_scheduling()) {
    fiber_pacer<false> pacer(idle.log());
    run_calls(record, pacer, call);
  }
  run_calls(record, idle, call);
}

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_ALWAYS_RUN_LOOP_H
