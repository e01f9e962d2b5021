// Entry of the emulation runtime library (target qrn::runtime).
#ifndef QRN_HLS_RUNTIME_H
#define QRN_HLS_RUNTIME_H

// Lets the always-running components launched so far settle, then returns.
//
// Returns once every always-running component has gone quiet: each has
// completed two consecutive calls of its component function that moved no
// stream element, after this call began and with no element moved meanwhile by
// any of them, or sleeps in a blocking read with no element on its way. Gives
// up after about one second of waiting (a pause of the whole process, as on an
// overloaded machine, does not count); returns at once when nothing was launched.
// `component_entry` is the test bench's component entry; it is not called.
extern "C" void __qrn_hls_component_run_all(void (*component_entry)());

#endif  // QRN_HLS_RUNTIME_H
