// Entry of the emulation runtime library (target qrn::runtime).
#ifndef QRN_HLS_RUNTIME_H
#define QRN_HLS_RUNTIME_H

// Lets the always-running components launched so far settle, then returns.
//
// Returns once every always-running component has gone quiet: each has
// completed two consecutive calls of its component function that moved no
// stream element, after this call began and with no element moved meanwhile by
// any of them, or sleeps in a blocking read with no element on its way. A
// component parked between calls (see HLS/internal/idle_worker.h) is woken
// and makes those two calls at once. Waits
// as long as finite work takes; gives up, with a warning on standard error
// naming the components still busy, after QRN_SETTLE_LIMIT seconds
// (a setting; default 60, 0 for no limit). Returns at once when nothing was
// launched.
// `component_entry` is the test bench's component entry; it is not called.
extern "C" void __qrn_hls_component_run_all(void (*component_entry)());

#endif  // QRN_HLS_RUNTIME_H
