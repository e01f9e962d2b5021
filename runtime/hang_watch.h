// Hang diagnosis: sleeping readers look whether the whole run is stuck and
// report it once nothing has moved for QRN_HANG_AFTER.
#ifndef QRN_RUNTIME_HANG_WATCH_H
#define QRN_RUNTIME_HANG_WATCH_H

#include <chrono>

#include "HLS/internal/activity.h"
#include "HLS/internal/diagnostic_hooks.h"
#include "HLS/internal/stream_registry.h"

namespace qrn_runtime {

// Reads QRN_HANG_AFTER (seconds, default 2, 0 turns the checks off) and QRN_ON_HANG
// (`wait`, the default, or `exit`) and turns the looks on. Called once,
// while the runtime is initialised.
void configure_hang_watch();

// The look, made with the sleeping reader's stream mutex held as its sleep
// starts or, with `ran_out`, after a timed sleep ran out; returns the
// nanoseconds until its next look. Stuck means: no wake-up is pending, every
// always-running component is quiet (asleep in a blocking read, or calling
// without moving anything), and no stream element has moved for
// QRN_HANG_AFTER. Reports each stuck state once; with QRN_ON_HANG=exit it then
// ends the process with status 1, otherwise the report's last line tells that
// option.
std::chrono::nanoseconds::rep look_for_hang(const qrn::internal::hang_watch& watch, bool ran_out);

// With fibers: the test bench waits and no fiber can run; `livelock` when
// some of them only poll streams that stay empty. Writes the hang report at
// once and ends the process with status 1.
[[noreturn]] void report_deadlock(bool livelock);

// QRN_HANG_AFTER as configured; zero while hang checks are off.
std::chrono::steady_clock::duration hang_after_setting();

// With fibers: the component of `record` has run for `seconds` without
// giving control back. Writes the report; with QRN_ON_HANG=exit it then ends
// the process with status 1. Called by the watch thread (see spin_watch.h).
void report_spinning_fiber(const qrn::internal::always_run_record& record, double seconds);

// Tasks that can never end because they wait on each other (a cycle of
// waits whose threads are all tasks): the report, once per process, then,
// with QRN_ON_HANG=exit, the process ends with status 1.
// After run-all has returned to the test bench:
void check_tasks_after_run_all();
// As the process ends with invocations outstanding (an exit handler): the
// status to end with.
int status_for_stuck_tasks(int status);

// One line on standard error naming the stream of a fatal misuse and the
// thread that made the call.
void describe_fatal_use(const qrn::internal::stream_info& stream);

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_HANG_WATCH_H
