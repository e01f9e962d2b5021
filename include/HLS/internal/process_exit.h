// How the process ends while worker threads may still run.
//
// Streams and task workers are static objects, and the worker thread of an
// always-running component never returns: it is still calling the component
// when `main` returns or when the runtime error reporter calls `exit`. Running
// the static destructors then would let that thread use destroyed streams,
// hang in the destructor of a condition variable it sleeps on, or wake up
// inside a destroyed worker object.
//
// So every launch counts one outstanding invocation until the invocation has
// returned, and the first launch installs an exit handler. Exit handlers run
// in reverse order of installation, so this one runs before the destructors of
// every static object constructed before that launch (the streams and task
// workers of a test bench). When an invocation is still outstanding it
// flushes `std::cout` and every stdio stream and ends the process with the
// same status, without running static destructors; otherwise it does nothing
// and the ordinary exit continues, in which the destructor of an idle task
// worker waits for its thread to finish (see `_task::~_task`).
//
// Limit: a static object constructed after the first launch is destroyed
// before this handler runs; components must not use such objects once `main`
// has returned.
#ifndef QRN_HLS_INTERNAL_PROCESS_EXIT_H
#define QRN_HLS_INTERNAL_PROCESS_EXIT_H

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <unistd.h>

namespace qrn {
namespace internal {

struct exit_state {
  std::atomic<long> outstanding_invocations{0};  // queued or running, not yet returned
};

inline exit_state& process_exit() {
  static exit_state state;  // constant-initialised: no guard, no destructor
  return state;
}

// Flushes standard output and ends the process at once with `status`.
[[noreturn]] inline void end_process_now(int status) {
  std::cout.flush();
  std::fflush(nullptr);
  ::_exit(status);
}

inline void end_process_if_workers_busy(int status, void*) {
  if (process_exit().outstanding_invocations.load() > 0) {
    end_process_now(status);
  }
}

// Called by a launch before it queues an invocation. The handler is installed
// under the one-time initialisation of a function-local static: concurrent
// first launchers wait until it is in place, so none of them can queue an
// invocation that an exit would miss.
inline void note_invocation_queued() {
  process_exit().outstanding_invocations.fetch_add(1);
  static const bool handler_installed = on_exit(&end_process_if_workers_busy, nullptr) == 0;
  (void)handler_installed;
}

// Called when a queued invocation has returned, or was never queued.
inline void note_invocation_finished() { process_exit().outstanding_invocations.fetch_sub(1); }

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_PROCESS_EXIT_H
