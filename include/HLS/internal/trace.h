// Entry points from the header-only library into the trace recorder of the
// emulation runtime (runtime/trace_*.cpp; QRN_TRACE, qrn::trace_to).
//
// While a trace is recorded, every stream reports each change of its
// occupancy, every thread that uses streams reports when it starts polling
// an empty stream, falls asleep in a blocking read and wakes, and each
// always-running loop reports the end of every component call. Each of
// these sites tests `trace_hook_table::on` once, with a relaxed load of a
// constant-initialised flag: with tracing off that one predictable branch is
// all they cost. A program that does not link the runtime never turns the
// flag on.
//
// The hooks are function pointers that the runtime sets while it is
// initialised, before it turns `on` for the first time; the calls below load
// them with acquire and skip a null one.
//
// The table is reached through an inline function whose static has vague
// linkage, so a program and a shared runtime share one copy.
#ifndef QRN_HLS_INTERNAL_TRACE_H
#define QRN_HLS_INTERNAL_TRACE_H

#include <atomic>
#include <cstdint>

#include "HLS/internal/short_path_gate.h"

namespace qrn {
namespace internal {

class stream_info;

// What a thread does, as a trace shows it.
enum class trace_thread_state : std::uint8_t {
  running = 0,  // anything but waiting for a stream
  polling = 1,  // its last tryRead (or the spin of a blocking read) found a stream empty
  asleep = 2,   // asleep in a blocking read
};

struct trace_hook_table {
  // A trace is being recorded. Read relaxed on every stream operation.
  std::atomic<bool> on{false};
  // After each change of `stream`'s occupancy to `occupancy` (`added`: by a
  // write), with the stream's mutex held, on the thread that made the change.
  std::atomic<void (*)(const stream_info& stream, std::uint64_t occupancy, bool added)> occupancy{
      nullptr};
  // The calling thread enters `state`, on `stream` (null for running).
  std::atomic<void (*)(const stream_info* stream, trace_thread_state state)> thread_state{nullptr};
  // An always-running component's call returned; `moved` is the worker
  // thread's moved count (see activity.h) after it.
  std::atomic<void (*)(std::uint64_t moved)> call_returned{nullptr};
  // `stream` is about to leave the registry (its destructor), without any
  // lock held. Called whether or not a trace is on.
  std::atomic<void (*)(stream_info& stream)> stream_destroyed{nullptr};
};

inline trace_hook_table& trace_hooks() {
  static trace_hook_table table;  // constant-initialised: no guard, no destructor
  return table;
}

// True while a trace is recorded; the one branch tracing costs when it is off.
inline bool tracing() { return trace_hooks().on.load(std::memory_order_relaxed); }

// Starts or stops tracing; a recorded trace closes the streams' short path.
inline void set_tracing(bool on) {
  if (on) {
    close_short_path(closed_while_tracing);
    trace_hooks().on.store(true, std::memory_order_release);
  } else {
    trace_hooks().on.store(false, std::memory_order_relaxed);
    open_short_path(closed_while_tracing);
  }
}

// Called by a stream operation, with the stream's mutex held, after it
// added (`added`) or took one element; `occupancy()` tells what the stream
// holds now, and is called only while a trace is recorded.
template <typename Occupancy>
inline void trace_occupancy(const stream_info& stream, Occupancy occupancy, bool added) {
  if (tracing()) {
    if (void (*hook)(const stream_info&, std::uint64_t, bool) =
            trace_hooks().occupancy.load(std::memory_order_acquire)) {
      hook(stream, occupancy(), added);
    }
  }
}

// Reports that the calling thread starts polling `stream`, falls asleep on
// it, or (with `stream` null) runs again after a sleep. Call it only when
// tracing() was true: a blocking read tests the flag once for its whole wait.
inline void trace_thread_entered(const stream_info* stream, trace_thread_state state) {
  if (void (*hook)(const stream_info*, trace_thread_state) =
          trace_hooks().thread_state.load(std::memory_order_acquire)) {
    hook(stream, state);
  }
}

// As trace_thread_entered(), when a trace is recorded.
inline void trace_thread(const stream_info* stream, trace_thread_state state) {
  if (tracing()) {
    trace_thread_entered(stream, state);
  }
}

// Called by the always-run loop after each call of the component.
__attribute__((always_inline)) inline void trace_call_returned(std::uint64_t moved) {
  if (tracing()) {
    if (void (*hook)(std::uint64_t) = trace_hooks().call_returned.load(std::memory_order_acquire)) {
      hook(moved);
    }
  }
}

// Called by a stream's registry entry as it is destroyed.
inline void trace_stream_destroyed(stream_info& stream) {
  if (void (*hook)(stream_info&) = trace_hooks().stream_destroyed.load(std::memory_order_acquire)) {
    hook(stream);
  }
}

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_TRACE_H
