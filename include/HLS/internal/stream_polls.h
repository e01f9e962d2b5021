// What the operations of one stream that do not wait (tryRead, tryPeek,
// empty(), tryWrite, full(), the peeks) do when they find nothing to take or
// no room: the poll points.
//
// - An empty poll notes the stream for the diagnostics and, on a
//   component's thread, in its poll log, so that a component whose polls
//   keep finding nothing parks until a write reaches a logged stream (see
//   parking.h); a refused write does the same for room.
// - With fibers, the test bench that finds a stream empty (full) first lets
//   the components run until a write (a read) reaches it or none can run.
// - In a timed run, only elements readable at the caller's clock count.
// - A peek or a read that may not wait finds an empty stream fatal.
//
// `Stream` is the stream class (see HLS/hls_internal.h), which derives from
// this mixin and befriends it, and `T` its element type; the mixin holds no
// state.
#ifndef QRN_HLS_INTERNAL_STREAM_POLLS_H
#define QRN_HLS_INTERNAL_STREAM_POLLS_H

#include <mutex>

#include "HLS/internal/activity.h"
#include "HLS/internal/component_stop.h"
#include "HLS/internal/depth.h"
#include "HLS/internal/parking.h"
#include "HLS/internal/scheduler.h"
#include "HLS/internal/spin.h"
#include "HLS/internal/stream_registry.h"
#include "HLS/internal/trace.h"

namespace qrn {
namespace internal {

// Reports a read of the empty stream `info` that cannot wait; defined with
// the error reporter in HLS/hls_internal.h.
[[noreturn]] inline void fail_empty_read(const stream_info& info);

template <typename Stream, typename T>
class stream_polls {
 protected:
  // Requires the stream's mutex: whether an operation that does not wait
  // finds an element.
  __attribute__((always_inline)) bool holds_element_for_poll() {
    if (!self()._internal_cosim_empty() && !timed_run()) {
      return true;
    }
    return holds_element_after_poll();
  }

  // Requires the stream's mutex. Peeks never wait.
  void require_element() {
    if (!holds_element_for_poll()) {
      fail_empty_read(self().info_);
    }
  }

  // The result of a tryRead or tryPeek that found the stream empty: releases
  // the mutex held through `lock`, logs the poll point, backs off (see
  // back_off_after_empty_poll) and returns T().
  T empty_poll_result(std::unique_lock<std::mutex>& lock) {
    Stream& s = self();
    s.info_.note_reader();
    if (lock.owns_lock()) {
      lock.unlock();
    }
    note_empty_poll(s.info_);
    log_empty_poll(&s, Stream::poll_ops());
    trace_thread(&s.info_, trace_thread_state::polling);
    if (!fiber_scheduling()) {
      back_off_after_empty_poll();
    }
    halt_if_stopped();
    return T();
  }

  // With fibers, the test bench that found the stream full lets the
  // components run until a read makes room or none can run; true when it ran
  // any (it looks again). The mutex is not taken.
  bool room_after_bench_poll() {
    return fiber_scheduling() && fiber_scheduler().poll_empty(&self(), Stream::room_poll_ops());
  }

  // After a write found the stream full and did not wait, the mutex
  // released: a poll point, as for an empty tryRead.
  __attribute__((noinline)) void refused_write_result() {
    log_empty_poll(&self(), Stream::room_poll_ops());
    if (!fiber_scheduling()) {
      back_off_after_empty_poll();
    }
    halt_if_stopped();
  }

  // Runs `write` (a write through the dispatch table) so that, in a bounded
  // mode, a full stream refuses it instead of waiting: true when written. A
  // refusal is a poll point.
  template <typename Write>
  bool write_unless_full(Write write) {
    if (internal::write_unless_full(&self(), write)) {
      return true;
    }
    room_after_bench_poll();
    refused_write_result();
    return false;
  }

 private:
  Stream& self() { return static_cast<Stream&>(*this); }

  // With fibers, the test bench that finds no element first lets the
  // components run until a write reaches this stream or none can run.
  __attribute__((noinline)) bool holds_element_after_poll() {
    Stream& s = self();
    if (!s._internal_cosim_empty()) {
      return s.timed_readable();
    }
    const bool held = fiber_scheduling() && fiber_scheduler().poll_empty(&s, Stream::poll_ops()) &&
                      !s._internal_cosim_empty();
    return timed_run() ? s.timed_readable() : held;
  }
};

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_STREAM_POLLS_H
