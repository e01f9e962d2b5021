// Hang diagnosis: a reader asleep in a blocking read looks, every
// QRN_HANG_AFTER seconds, whether the whole run is stuck, and reports it.
#ifndef QRN_RUNTIME_HANG_WATCH_H
#define QRN_RUNTIME_HANG_WATCH_H

#include "HLS/internal/diagnostic_hooks.h"
#include "HLS/internal/stream_registry.h"

namespace qrn_runtime {

// Reads QRN_HANG_AFTER (seconds, default 2, 0 for off) and QRN_ON_HANG
// (`wait`, the default, or `exit`) and turns the looks on. Called once,
// while the runtime is initialised.
void configure_hang_watch();

// The look, made with the sleeping reader's stream mutex held. Stuck means:
// no wake-up is pending, every always-running component is quiet (asleep in
// a blocking read, or calling without moving anything), and no stream
// element has moved for QRN_HANG_AFTER seconds. Reports each stuck state
// once; with QRN_ON_HANG=exit it then ends the process with status 1.
void look_for_hang(const qrn::internal::hang_watch& watch);

// With fibers: the test bench waits and no fiber can run. Writes the hang
// report at once and ends the process with status 1.
[[noreturn]] void report_deadlock();

// One line on standard error naming the stream of a fatal misuse and the
// thread that made the call.
void describe_fatal_use(const qrn::internal::stream_info& stream);

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_HANG_WATCH_H
