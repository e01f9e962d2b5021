// Launching components on worker threads.
//
// `qrn::launch_always_run<f>()` starts `f` (a `void()` function) as an
// always-running component: the first call queues, on the worker thread of
// `f`'s task, an invocation that calls `f` back to back for as long as the
// process lives; every later call returns at once. It never waits for `f` to
// run. Thread-safe: concurrent first callers launch once, and a first launch
// that threw is retried by the next call.
//
// Each task has one worker (`task<X, f, detach>::_t`), built during static
// initialisation whether or not it is ever launched; an idle worker thread
// sleeps and uses no processor time.
#ifndef QRN_HLS_TASK_H
#define QRN_HLS_TASK_H

#include <utility>

#include "HLS/internal/_task_X64.h"
#include "HLS/internal/activity.h"
#include "HLS/internal/idle_worker.h"
#include "HLS/internal/names.h"
#include "HLS/internal/process_exit.h"
#include "HLS/internal/scheduler.h"
#include "HLS/internal/trace.h"

namespace qrn {
namespace internal {

using VoidFuncTy = void();

// Static front-end that owns the one worker of a task.
template <typename X, X& f, bool detach>
class task {
 public:
  // Queues one invocation of `f` with `args` bound. Thread-safe.
  template <int capacity, typename... Args>
  static void launch(Args&&... args) {
    _t.template launch<capacity>(std::forward<Args>(args)...);
  }

 private:
  task() = delete;
  static _task<X, f, detach> _t;
};

template <typename X, X& f, bool detach>
_task<X, f, detach> task<X, f, detach>::_t;

// The published activity of the always-running component `f`.
template <VoidFuncTy& f>
always_run_record& always_run_record_of() {
  static always_run_record record;
  return record;
}

// The parking state of the always-running component `f`.
template <VoidFuncTy& f>
idle_worker& idle_worker_of() {
  static idle_worker worker;
  return worker;
}

// Paces an always-running component on a fiber (see scheduler.h): after a
// call that moved nothing its fiber waits for a write to a stream it found
// empty, and after a quantum of calls that moved elements it lets the other
// fibers run.
class fiber_pacer {
 public:
  explicit fiber_pacer(poll_log& log)
      : log_(log), scheduler_(fiber_scheduler()), left_(scheduler_.next_quantum()) {}

  void busy_call() {
    log_.clear();
    if (--left_ == 0) {
      scheduler_.switch_out();
      left_ = scheduler_.next_quantum();
    }
  }
  void idle_call() {
    scheduler_.idle_call(log_);
    left_ = scheduler_.next_quantum();
  }

 private:
  poll_log& log_;
  const fiber_scheduler_ops& scheduler_;
  std::uint32_t left_;
};

// Calls `f` back to back and never returns. After each call it publishes
// the call and, when the call moved stream elements, the worker thread's
// moved count, and tells a trace being recorded (see trace.h); then it tells
// `pacer`: the idle worker, which parks the thread for a while when calls
// keep moving nothing (see idle_worker.h), or the fiber pacer.
//
// The call count is a release store (a plain store on x86-64, where a
// sequentially consistent one is a locked exchange per call). That is enough:
// the moved count is published with it, and a call that locks a stream before
// a test bench writes to it has stored the count of the calls before it, so a
// snapshot the bench takes after the write sees that count and waits for the
// calls after that one.
template <VoidFuncTy& f, typename Pacer>
[[noreturn]] void run_always(always_run_record& record, Pacer& pacer) {
  const std::uint64_t& moved = moved_elements();
  std::uint64_t published_moved = moved;
  std::uint64_t moving_calls = 0;
  for (std::uint64_t calls = 1;; ++calls) {
    f();
    const bool moved_any = moved != published_moved;
    if (moved_any) {
      published_moved = moved;
      record.moved.store(published_moved, std::memory_order_release);
      record.moving_calls.store(++moving_calls, std::memory_order_relaxed);
    }
    record.calls.store(calls, std::memory_order_release);
    trace_call_returned(moved);
    if (moved_any) {
      pacer.busy_call();
    } else {
      pacer.idle_call();
    }
  }
}

// The always-run loop of `f`. An exception that escapes `f` ends the process
// (see end_process_for_uncaught_exception).
template <VoidFuncTy& f>
void launch_at_startup() {
  always_run_record& record = always_run_record_of<f>();
  current_always_run_record() = &record;
  idle_worker& idle = idle_worker_of<f>();
  current_poll_log() = &idle.log();
  try {
    if (fiber_scheduling()) {
      fiber_pacer pacer(idle.log());
      run_always<f>(record, pacer);
    }
    run_always<f>(record, idle);
  } catch (...) {
    end_process_for_uncaught_exception(component_name_from_signature(component_signature<f>()));
  }
}

// Constructing one launches the always-run loop of `f` once.
template <VoidFuncTy& f>
class launch_always_run_helper {
 public:
  launch_always_run_helper() {
    always_run_record& record = always_run_record_of<f>();
    record.signature = component_signature<f>();
    record.parker = &idle_worker_of<f>().parker();
    record.function = &f;
    task<VoidFuncTy, launch_at_startup<f>, true>::template launch<0>();
    publish_always_run_record(record);
  }
};

}  // namespace internal

// Starts `f` as an always-running component on its first call; later calls
// do nothing. Thread-safe.
template <internal::VoidFuncTy& f>
void launch_always_run() {
  static internal::launch_always_run_helper<f> t;
  (void)t;
}

}  // namespace qrn

#endif  // QRN_HLS_TASK_H
