// The hooks through which one stream tells the runtime of a timed run
// (QRN_TIME=cycles; see timed_run.h) of its reads and writes, and asks it
// whether an element is readable or a write would find room at the caller's
// clock. A timed run always runs on the fiber scheduler, so every hook runs
// on the main thread; the callers hold the stream's mutex all the same, but
// for the ordinary read and write, whose fibers elide it. Untimed, only
// forget_timed_write(), note_timed_read(), ordinary_timed_read() and
// ordinary_timed_write() may be called, and each costs one test of the mode.
//
// `Stream` is the stream class (see HLS/hls_internal.h), which derives from
// this mixin and befriends it, and `T` its element type; the mixin holds no
// state.
#ifndef QRN_HLS_INTERNAL_STREAM_TIMED_HOOKS_H
#define QRN_HLS_INTERNAL_STREAM_TIMED_HOOKS_H

#include <mutex>

#include "HLS/internal/activity.h"
#include "HLS/internal/depth.h"
#include "HLS/internal/short_path_gate.h"
#include "HLS/internal/stream_registry.h"
#include "HLS/internal/stream_ring.h"
#include "HLS/internal/timed_run.h"

namespace qrn {
namespace internal {

template <typename Stream, typename T>
class stream_timed_hooks {
 protected:
  // The start of a timed write: a tryWrite (see write_unless_full) is
  // refused when its element would enter a full FIFO; a write waits for
  // room as untimed, then takes the cycle it enters. False when nothing is
  // to be appended. An ordinary write (no tryWrite of this stream under way,
  // room in the FIFO) only takes its cycle.
  __attribute__((always_inline)) bool admit_timed_write(std::unique_lock<std::mutex>& lock) {
    Stream& s = self();
    if (__builtin_expect(current_write_refusal().stream != &s && !s.info_.full(), 1)) {
      timed_ops().admit_write(timed_ref());
      return true;
    }
    return admit_unusual_timed_write(lock);
  }
  // Whether a plain read in a timed run needs no more than to take the head
  // element and tell the runtime (take_ordinary_timed): on the main thread,
  // which runs every fiber, while no trace is recorded, with an element held
  // and no writer waiting for room (the general path would then wait for
  // nothing, wake no one and trace nothing).
  __attribute__((always_inline)) bool ordinary_timed_read() {
    Stream& s = self();
    const stream_depth& depth = s.info_.depth();
    return timed_run() && on_main_thread_untraced() && !s.ring_.empty() &&
           depth.writers_asleep == 0 && depth.room_pollers == nullptr;
  }
  __attribute__((always_inline)) T take_ordinary_timed() {
    Stream& s = self();
    T elem = s.ring_.pop_front();
    timed_ops().read(timed_ref());
    s.info_.note_read();
    ++moved_elements();
    return elem;
  }
  // Whether a plain write in a timed run needs no more than its cycle and
  // the append (append_ordinary_timed): on the main thread, while no trace is
  // recorded, with no tryWrite of this stream under way, room in the FIFO and
  // no poller parked on the stream. No reader sleeps on the stream's condition
  // variable: with fibers, a stream used off the main thread is fatal.
  __attribute__((always_inline)) bool ordinary_timed_write() {
    Stream& s = self();
    return timed_run() && on_main_thread_untraced() && current_write_refusal().stream != &s &&
           !s.info_.full() && s.parked_pollers_ == nullptr;
  }
  // Strong guarantee: a throwing copy or growth drops the element's cycle
  // and leaves the stream as it was.
  __attribute__((always_inline)) void append_ordinary_timed(const T& value) {
    Stream& s = self();
    timed_ops().admit_write(timed_ref());
    try {
      s.ring_.push_back(value, packet_sideband(), s.info_.depth().capacity, &s.info_);
    } catch (...) {
      timed_ops().unwrite(s.info_);
      throw;
    }
    s.info_.note_written(s.ring_.size());
    ++moved_elements();
  }
  // A timed write that admit_timed_write() stamped did not append.
  void forget_timed_write() {
    if (timed_run()) {
      timed_ops().unwrite(self().info_);
    }
  }
  // A read took the head element.
  __attribute__((always_inline)) void note_timed_read() {
    if (timed_run()) {
      timed_ops().read(timed_ref());
    }
  }
  // Timed runs only: whether the head element is readable, and whether a
  // write would find room, at the caller's clock.
  bool timed_readable() { return timed_ops().readable(timed_ref()); }
  bool timed_room() { return timed_ops().room(timed_ref()); }

 private:
  Stream& self() { return static_cast<Stream&>(*this); }
  // The rest of admit_timed_write(): a tryWrite of this stream, or a full
  // FIFO.
  __attribute__((noinline)) bool admit_unusual_timed_write(std::unique_lock<std::mutex>& lock) {
    Stream& s = self();
    write_refusal& refusal = current_write_refusal();
    if (refusal.stream == &s && !timed_room()) {
      refusal.refused = true;
      return false;
    }
    if (s.info_.full() && !s.wait_for_room(lock)) {
      return false;
    }
    timed_ops().admit_write(timed_ref());
    return true;
  }
  // The calling thread is the main thread, known as such, and no trace is
  // recorded: of the reasons that close the streams' short path (see
  // short_path_gate.h), only the timed mode's.
  static bool on_main_thread_untraced() {
    return this_thread_short_path_word().load(std::memory_order_relaxed) ==
           closed_unless_untimed_fibers;
  }
  // This stream as the runtime sees it; the test bench's side follows its
  // stall model.
  timed_stream_ref timed_ref() { return {self().info_, &self(), &stall_of, sizeof(T) * 8}; }
  static bool stall_of(void* stream) { return static_cast<Stream*>(stream)->stall(); }
};

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_STREAM_TIMED_HOOKS_H
