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
//
// With C++17, `qrn::launch_always_run<f>(args...)` starts an always-running
// instance of `f` with arguments, once per distinct argument list, and
// `qrn::launch_task<f>(args...)` runs `f(args...)` once as a component that
// ends; each runs on a thread of its own (see component_instances.h).
#ifndef QRN_HLS_TASK_H
#define QRN_HLS_TASK_H

#include <string>
#include <type_traits>
#include <utility>

#include "HLS/internal/_task_X64.h"
#include "HLS/internal/activity.h"
#include "HLS/internal/always_run_loop.h"
#include "HLS/internal/idle_worker.h"
#include "HLS/internal/names.h"
#include "HLS/internal/process_exit.h"
#include "HLS/internal/scheduler.h"
#include "HLS/internal/timing_check.h"
#include "HLS/internal/trace.h"
#include "HLS/timing.h"
#if __cplusplus >= 201703L
#include "HLS/internal/component_instances.h"
#include "HLS/internal/task_handle.h"
#endif

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

// The always-run loop of `f`. An exception that escapes `f` ends the process
// (see end_process_for_uncaught_exception).
template <VoidFuncTy& f>
void launch_at_startup() {
  always_run_record& record = always_run_record_of<f>();
  try {
    run_always(record, idle_worker_of<f>(), [] { f(); });
  } catch (...) {
    end_process_for_uncaught_exception(component_name_from_signature(component_signature<f>()));
  }
}

// Constructing one launches the always-run loop of `f` once, paced by
// `pace` in a timed run.
template <VoidFuncTy& f>
class launch_always_run_helper {
 public:
  explicit launch_always_run_helper(const timing& pace) {
    check_timing(pace, component_name_from_signature(component_signature<f>()));
    always_run_record& record = always_run_record_of<f>();
    record.signature = component_signature<f>();
    record.parker = &idle_worker_of<f>().parker();
    record.function = &f;
    if (fiber_scheduling()) {
      record.clock.pace = pace;
      start_clock(record.clock, current_always_run_record() != nullptr);
    }
    task<VoidFuncTy, launch_at_startup<f>, true>::template launch<0>();
    publish_always_run_record(record);
  }
};

// The one launch of `f` without arguments: the first call's `pace` holds.
template <VoidFuncTy& f>
void launch_always_run_once(const timing& pace) {
  static launch_always_run_helper<f> t(pace);
  (void)t;
}

}  // namespace internal

// Starts `f` as an always-running component on its first call; later calls
// do nothing. Thread-safe.
template <internal::VoidFuncTy& f>
void launch_always_run() {
  internal::launch_always_run_once<f>(internal::default_component_timing());
}

#if __cplusplus < 201703L
// As launch_always_run<f>(), paced by `pace` in a timed run when this call is
// the first. (Arguments, qrn::named and launch_task need C++17.)
template <internal::VoidFuncTy& f>
void launch_always_run(timing pace) {
  internal::launch_always_run_once<f>(pace);
}
#endif

#if __cplusplus >= 201703L
// A component's name in the diagnostics and traces, given as the first
// argument of launch_always_run or launch_task.
struct named {
  explicit named(std::string name) : text(std::move(name)) {}
  std::string text;
};

namespace internal {
template <typename A>
constexpr bool is_named = std::is_same<std::decay_t<A>, named>::value;
template <typename A>
constexpr bool is_timing = std::is_same<std::decay_t<A>, timing>::value;

// Takes the leading qrn::named and qrn::timing, in either order, off a
// launch's arguments into `options`, then calls `launch(options, rest...)`.
template <typename Launch>
void with_launch_options(launch_options& options, Launch& launch) {
  launch(options);
}
template <typename Launch, typename A, typename... Args>
void with_launch_options(launch_options& options, Launch& launch, A&& first, Args&&... args) {
  if constexpr (is_named<A>) {
    options.name = first.text;
    with_launch_options(options, launch, std::forward<Args>(args)...);
  } else if constexpr (is_timing<A>) {
    options.pace = first;
    with_launch_options(options, launch, std::forward<Args>(args)...);
  } else {
    launch(options, std::forward<A>(first), std::forward<Args>(args)...);
  }
}
}  // namespace internal

// Launches an always-running instance of `f` with the arguments `args`,
// after an optional qrn::named and qrn::timing (either order).
template <auto& f, typename A, typename... Args>
void launch_always_run(A&& first, Args&&... args) {
  internal::launch_options options;
  auto launch = [](internal::launch_options& chosen, auto&&... rest) {
    internal::launch_always_run_instance<f>(chosen, std::forward<decltype(rest)>(rest)...);
  };
  internal::with_launch_options(options, launch, std::forward<A>(first),
                                std::forward<Args>(args)...);
}

// Starts one run of the task `f`; its handle waits for it to end.
template <auto& f>
task_handle launch_task() {
  return task_handle(internal::launch_task_run<f>(internal::launch_options()));
}

// Starts one run of the task `f` with the arguments `args`, after an
// optional qrn::named and qrn::timing (either order); its handle waits for
// it to end.
template <auto& f, typename A, typename... Args>
task_handle launch_task(A&& first, Args&&... args) {
  internal::launch_options options;
  const internal::always_run_record* launched = nullptr;
  auto launch = [&launched](internal::launch_options& chosen, auto&&... rest) {
    launched = &internal::launch_task_run<f>(chosen, std::forward<decltype(rest)>(rest)...);
  };
  internal::with_launch_options(options, launch, std::forward<A>(first),
                                std::forward<Args>(args)...);
  return task_handle(*launched);
}
#endif

}  // namespace qrn

#endif  // QRN_HLS_TASK_H
