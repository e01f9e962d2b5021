// How the process ends while worker threads may still run.
//
// Streams and task workers are static objects, and the worker thread of an
// always-running component never returns: it is still calling the component
// when `main` returns or when the runtime error reporter ends the process.
// Running the static destructors then would let that thread use destroyed
// streams, hang in the destructor of a condition variable it sleeps on, or
// wake up inside a destroyed worker object.
//
// One ending. Every way of ending the process (`exit()` and `main`
// returning, the runtime error reporter, an exception escaping a component)
// first claims the one ending with claim_process_ending(). The first thread
// to claim it ends the process; any other thread that tries later parks for
// good and lets it. So an error line printed by the reporter always comes
// with status 1, standard output is flushed once, and two endings never run
// exit handlers side by side.
//
// Outstanding invocations. Every launch counts one outstanding invocation
// until the invocation has returned, and the first launch installs an exit
// handler; the emulation runtime installs it again when it is first called,
// which covers static objects constructed after a launch made during static
// initialisation. Exit handlers run in reverse order of installation, so this one runs before the
// destructors of every static object constructed before that installation (the streams and task
// workers of a test bench). It claims the ending; when an invocation is still outstanding it
// flushes `std::cout` and every stdio stream and ends the process with the same status without
// running static destructors; otherwise the ordinary exit continues, in which the destructor of an
// idle task worker waits for its thread to finish (see `_task::~_task`).
//
// Limit: a static object constructed after the last installation is
// destroyed before this handler runs; components must not use such objects
// once `main` has returned.
#ifndef QRN_HLS_INTERNAL_PROCESS_EXIT_H
#define QRN_HLS_INTERNAL_PROCESS_EXIT_H

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include <unistd.h>

#include "HLS/internal/diagnostic_hooks.h"
#include "HLS/internal/names.h"

namespace qrn {
namespace internal {

// Exit status of a process ended by an exception that escaped a component.
constexpr int uncaught_exception_status = 70;

struct exit_state {
  std::atomic<long> outstanding_invocations{0};  // queued or running, not yet returned
  std::atomic<bool> ending_claimed{false};       // set once, by the thread that ends the process
};

inline exit_state& process_exit() {
  static exit_state state;  // constant-initialised: no guard, no destructor
  return state;
}

// True on the thread that has claimed the ending.
inline bool& this_thread_ends_process() {
  static thread_local bool ends = false;
  return ends;
}

[[noreturn]] inline void park_forever() {
  for (;;) {
    ::pause();
  }
}

// Makes the calling thread the one that ends the process. Returns false
// when it already was, true when it has just become it; a thread that comes
// after another one never returns.
inline bool claim_process_ending() {
  if (this_thread_ends_process()) {
    return false;
  }
  bool expected = false;
  if (!process_exit().ending_claimed.compare_exchange_strong(expected, true)) {
    park_forever();
  }
  this_thread_ends_process() = true;
  return true;
}

inline bool invocations_outstanding() { return process_exit().outstanding_invocations.load() > 0; }

// Flushes standard output, writes the end-of-run report and ends the
// process at once with `status`. Requires the calling thread to own the
// ending.
[[noreturn]] inline void end_process_now(int status) {
  std::cout.flush();
  std::fflush(stdout);
  report_end_of_run(status);
  std::fflush(nullptr);
  ::_exit(status);
}

// Ends the process after the runtime error line has been printed: at once
// when a worker may still run (or when this thread was already ending the
// process, where calling exit() again is not allowed), through exit()
// otherwise. Requires the calling thread to own the ending; `newly_claimed`
// is what claim_process_ending() returned.
[[noreturn]] inline void end_process_after_error(int status, bool newly_claimed) {
  if (!newly_claimed || invocations_outstanding()) {
    end_process_now(status);
  }
  std::exit(status);
}

// Ends the process for an exception that escaped the component `component`:
// flushes standard output, names the component and the exception in one
// line on standard error and exits with uncaught_exception_status. Call only
// inside a catch block.
[[noreturn]] inline void end_process_for_uncaught_exception(const std::string& component) {
  claim_process_ending();
  const std::string line = "qrn: component " + component +
                           " ended by an uncaught exception: " + describe_current_exception() +
                           "\n";
  std::cout.flush();
  std::fflush(stdout);
  std::fputs(line.c_str(), stderr);
  end_process_now(uncaught_exception_status);
}

inline void end_process_if_workers_busy(int status, void*) {
  claim_process_ending();
  if (invocations_outstanding()) {
    if (int (*stuck_tasks)(int) = diagnostic_hooks().status_for_stuck_tasks.load()) {
      status = stuck_tasks(status);
    }
    end_process_now(status);
  }
  report_end_of_run(status);
}

// Installs end_process_if_workers_busy as an exit handler; true on success.
// Installing it more than once is harmless: the first run claims the ending.
inline bool install_exit_handler() { return on_exit(&end_process_if_workers_busy, nullptr) == 0; }

// Called by a launch before it queues an invocation. The handler is installed
// under the one-time initialisation of a function-local static: concurrent
// first launchers wait until it is in place, so none of them can queue an
// invocation that an exit would miss.
inline void note_invocation_queued() {
  process_exit().outstanding_invocations.fetch_add(1);
  static const bool handler_installed = install_exit_handler();
  (void)handler_installed;
}

// Called when a queued invocation has returned, or was never queued.
inline void note_invocation_finished() { process_exit().outstanding_invocations.fetch_sub(1); }

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_PROCESS_EXIT_H
