// Entry points from the header-only library into the diagnostics of the
// emulation runtime (runtime/diagnostics_*.cpp). The runtime sets them while
// it is initialised; a program that does not link the runtime leaves them
// null and gets no diagnostics, at no cost.
//
// The table is reached through an inline function whose static has vague
// linkage, so a program and a shared runtime share one copy.
#ifndef QRN_HLS_INTERNAL_DIAGNOSTIC_HOOKS_H
#define QRN_HLS_INTERNAL_DIAGNOSTIC_HOOKS_H

#include <atomic>
#include <chrono>

namespace qrn {
namespace internal {

class stream_info;
struct stopped_users;

// State a sleeping reader keeps between two looks for a hang.
struct hang_watch {
  std::chrono::steady_clock::time_point asleep_since;
  const stream_info* stream;  // the stream it sleeps on
};

struct diagnostic_hook_table {
  // Writes the end-of-run report (QRN_REPORT). Called once, by the ending.
  std::atomic<void (*)(int status)> end_of_run{nullptr};
  // Looks for a hang, with the caller's stream mutex held, as a reader's
  // sleep starts or, with `ran_out`, after its last timed sleep ran out; may
  // report it and may end the process (QRN_ON_HANG=exit). Returns how long
  // the reader sleeps until its next look (positive). Null while hang checks
  // are off.
  std::atomic<std::chrono::nanoseconds::rep (*)(const hang_watch&, bool ran_out)> look_for_hang{
      nullptr};
  // Finds and keeps the name of a stream that has none of its own (its
  // variable's); requires the registry's mutex.
  std::atomic<void (*)(stream_info&)> find_stream_name{nullptr};
  // Called as every stream's destruction begins: the runtime remembers the
  // streams with static storage duration, so that the other elements of an
  // array are still named as elements after some of them are gone. Requires
  // the registry's mutex.
  std::atomic<void (*)(const stream_info&)> stream_destroyed{nullptr};
  // One line on standard error naming the stream and thread of a fatal
  // misuse, before the error line is printed.
  std::atomic<void (*)(const stream_info&)> describe_fatal_use{nullptr};
  // One line on standard error naming a stream destroyed while a thread
  // still waited on it and the components it stopped (see component_stop.h).
  std::atomic<void (*)(stream_info&, const stopped_users&)> stream_destroyed_while_waited{nullptr};
  // As the process ends while invocations are outstanding: reports tasks
  // that wait on each other and returns the status to end with.
  std::atomic<int (*)(int status)> status_for_stuck_tasks{nullptr};
};

inline diagnostic_hook_table& diagnostic_hooks() {
  static diagnostic_hook_table table;  // constant-initialised: no guard, no destructor
  return table;
}

// The stream whose misuse the calling thread is reporting, if any.
inline const stream_info*& fatal_stream_use() {
  static thread_local const stream_info* stream = nullptr;
  return stream;
}

// Runs the end-of-run report once per process, whichever ending comes first.
inline void report_end_of_run(int status) {
  static std::atomic<bool> reported{false};
  void (*report)(int) = diagnostic_hooks().end_of_run.load();
  if (report != nullptr && !reported.exchange(true)) {
    report(status);
  }
}

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_DIAGNOSTIC_HOOKS_H
