// Components launched with arguments or a name, and tasks that end.
//
// Each such component is an instance: a heap object that keeps the
// arguments (see component_arguments.h), the component's activity record
// (see activity.h) and display name and, when it runs always, its idle
// worker (see idle_worker.h). It runs on a thread of its own, started by the
// launch and detached. An instance is never destroyed: its record stays in
// the runtime's list for the whole process, and its thread may use it until
// the process ends.
//
// - An always-running instance calls its function back to back with the
//   kept arguments (run_always). The instances of one function are kept in a
//   registry; a launch whose name and arguments equal those of a launched
//   instance does nothing.
// - A task calls its function once, publishes its final counts, marks its
//   record ended, and its thread ends. A task that polls in a loop parks
//   inside its polls (see idle_worker.h), so one written `for (;;)` with
//   locals of its own is a free-running process that costs nothing idle.
//
// Every instance counts one outstanding invocation (see process_exit.h)
// until its function has returned, which an always-running one never does.
// An exception that escapes the function ends the process
// (end_process_for_uncaught_exception).
//
// Requires C++17.
#ifndef QRN_HLS_INTERNAL_COMPONENT_INSTANCES_H
#define QRN_HLS_INTERNAL_COMPONENT_INSTANCES_H

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "HLS/internal/activity.h"
#include "HLS/internal/always_run_loop.h"
#include "HLS/internal/component_arguments.h"
#include "HLS/internal/idle_worker.h"
#include "HLS/internal/names.h"
#include "HLS/internal/process_exit.h"
#include "HLS/internal/scheduler.h"
#include "HLS/internal/timing_check.h"
#include "HLS/internal/trace.h"

namespace qrn {
namespace internal {

// What a launch may give before the component's arguments: its name (empty:
// named by its arguments) and its timing in a timed run.
struct launch_options {
  std::string name;
  timing pace = default_component_timing();
};

// The signature of this instantiation, which spells `f` (see
// component_signature).
template <auto& f>
const char* instance_signature() {
  return __PRETTY_FUNCTION__;
}

// Name, parameters and kept arguments of the component function `f`.
template <auto& f>
struct component_function {
  using parameters = typename parameters_of<std::remove_reference_t<decltype(f)>>::types;
  using kept = typename kept_arguments<parameters>::type;
  static constexpr auto indices = std::make_index_sequence<std::tuple_size<parameters>::value>();

  // The given name, or "NAME(ARGUMENT, ...)".
  static std::string label(const std::string& given, const kept& arguments) {
    if (!given.empty()) {
      return given;
    }
    return instance_name<parameters>(component_name_from_signature(instance_signature<f>()),
                                     arguments, indices);
  }

  // The addresses of the streams given by reference among `arguments`.
  template <std::size_t... I>
  static std::vector<const void*> streams_among(const kept& arguments, std::index_sequence<I...>) {
    std::vector<const void*> streams;
    (add_stream_argument<std::tuple_element_t<I, parameters>>(std::get<I>(arguments), streams),
     ...);
    return streams;
  }
  template <std::size_t... I>
  static void call_again(kept& arguments, std::index_sequence<I...>) {
    f(argument_for_repeated_call<std::tuple_element_t<I, parameters>>(std::get<I>(arguments))...);
  }

  template <std::size_t... I>
  static void call_once(kept& arguments, std::index_sequence<I...>) {
    f(argument_for_only_call<std::tuple_element_t<I, parameters>>(std::get<I>(arguments))...);
  }
};

// What every instance has: its record and display name, and the start of
// its thread.
class component_instance {
 public:
  component_instance(const component_instance&) = delete;
  component_instance& operator=(const component_instance&) = delete;

 protected:
  component_instance(std::string label, bool task, timing pace, std::vector<const void*> streams)
      : label_(std::move(label)), stream_arguments_(std::move(streams)) {
    check_timing(pace, label_);
    record_.label = &label_;
    record_.stream_arguments = &stream_arguments_;
    record_.task = task;
    record_.clock.task = task;
    record_.clock.pace = pace;
  }
  ~component_instance() = default;

  // Counts the outstanding invocation, runs `run` on a thread of its own (a
  // fiber with QRN_SCHEDULE=fibers; see scheduler.h) and publishes the
  // record. Throws when the thread cannot be started, counting nothing.
  template <typename Instance>
  void start(void (Instance::*run)()) {
    note_invocation_queued();
    try {
      auto* self = static_cast<Instance*>(this);
      if (fiber_scheduling()) {
        start_clock(record_.clock, current_always_run_record() != nullptr);
        fiber_scheduler().start(std::unique_ptr<std::function<void()>>(
            new std::function<void()>([self, run] { (self->*run)(); })));
      } else {
        std::thread(run, self).detach();
      }
    } catch (...) {
      note_invocation_finished();
      throw;
    }
    publish_always_run_record(record_);
  }

  always_run_record record_;
  const std::string label_;
  const std::vector<const void*> stream_arguments_;
};

// An always-running instance of `f`.
template <auto& f>
class always_run_instance final : public component_instance {
 public:
  using function = component_function<f>;

  always_run_instance(std::string given, timing pace, typename function::kept arguments)
      : component_instance(function::label(given, arguments), false, pace,
                           function::streams_among(arguments, function::indices)),
        given_(std::move(given)),
        arguments_(std::move(arguments)) {
    record_.parker = &idle_.parker();
  }

  void start() { component_instance::start(&always_run_instance::run); }

  // True when this instance runs `f` with `arguments` under the name `given`.
  // An instance stopped for good (a stream it used was destroyed) runs
  // nothing any more: a new local stream at the same address gets a new one.
  bool launched_as(const std::string& given, const typename function::kept& arguments) const {
    return !record_.stop_requested.load(std::memory_order_acquire) && given == given_ &&
           same_arguments(arguments, arguments_, function::indices);
  }

 private:
  void run() {
    try {
      run_always(record_, idle_, [this] { function::call_again(arguments_, function::indices); });
    } catch (...) {
      end_process_for_uncaught_exception(label_);
    }
  }

  idle_worker idle_;
  const std::string given_;
  typename function::kept arguments_;  // used by the instance's thread only, after start()
};

// The always-running instances of `f`, never destroyed.
template <auto& f>
struct always_run_registry {
  std::mutex mutex;
  std::vector<always_run_instance<f>*> launched;  // guarded by mutex; the instances live forever
};

template <auto& f>
always_run_registry<f>& always_run_registry_of() {
  static auto* registry = new always_run_registry<f>;
  return *registry;
}

// Launches an always-running instance of `f` named `options.name` (or by
// its arguments, when empty) unless one with that name and equal arguments
// was launched and still runs. Thread-safe; a launch that threw launched
// nothing.
template <auto& f, typename... Args>
void launch_always_run_instance(const launch_options& options, Args&&... args) {
  const std::string& given = options.name;
  using instance = always_run_instance<f>;
  typename instance::function::kept arguments =
      keep_arguments<typename instance::function::parameters>(std::forward<Args>(args)...);
  always_run_registry<f>& registry = always_run_registry_of<f>();
  std::lock_guard<std::mutex> lock(registry.mutex);
  for (const instance* launched : registry.launched) {
    if (launched->launched_as(given, arguments)) {
      return;
    }
  }
  registry.launched.reserve(registry.launched.size() + 1);
  std::unique_ptr<instance> fresh(new instance(given, options.pace, std::move(arguments)));
  fresh->start();
  registry.launched.push_back(fresh.release());
}

// One run of the task `f`.
template <auto& f>
class task_run final : public component_instance {
 public:
  using function = component_function<f>;

  task_run(const launch_options& options, typename function::kept arguments)
      : component_instance(function::label(options.name, arguments), true, options.pace,
                           function::streams_among(arguments, function::indices)),
        arguments_(std::move(arguments)) {
    record_.parker = &idle_.parker();
  }

  void start() { component_instance::start(&task_run::run); }
  const always_run_record& record() const { return record_; }

 private:
  // A task that polls in a loop is paced like an always-running component
  // between calls: by its idle worker, or with fibers by a fiber pacer.
  void run() {
    enter_component(record_);
    current_poll_log() = &idle_.log();
    try {
      if (fiber_scheduling()) {
        fiber_pacer<false> pacer(idle_.log());
        function::call_once(arguments_, function::indices);
      } else {
        function::call_once(arguments_, function::indices);
      }
    } catch (...) {
      end_process_for_uncaught_exception(label_);
    }
    const std::uint64_t moved = moved_elements();
    record_.moved.store(moved, std::memory_order_release);
    record_.moving_calls.store(moved != 0 ? 1 : 0, std::memory_order_relaxed);
    record_.calls.store(1, std::memory_order_release);
    trace_call_returned(moved);
    record_.ended.store(true);
    current_poll_log() = nullptr;
    current_always_run_record() = nullptr;
    note_invocation_finished();
  }

  idle_worker idle_;
  typename function::kept arguments_;  // used by the run's thread only, after start()
};

// Starts one run of the task `f`, named `options.name` (or by its
// arguments, when empty), and returns its record. Thread-safe; a launch that
// threw started nothing.
template <auto& f, typename... Args>
const always_run_record& launch_task_run(const launch_options& options, Args&&... args) {
  using run = task_run<f>;
  std::unique_ptr<run> fresh(new run(
      options, keep_arguments<typename run::function::parameters>(std::forward<Args>(args)...)));
  fresh->start();
  return fresh.release()->record();  // lives for the rest of the process: its record is published
}

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_COMPONENT_INSTANCES_H
