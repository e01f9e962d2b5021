// The hooks through which one stream tells the runtime of a timed run
// (QRN_TIME=cycles; see timed_run.h) of its reads and writes, and asks it
// whether an element is readable or a write would find room at the caller's
// clock. A timed run always runs on the fiber scheduler, so every hook runs
// on the main thread; the callers hold the stream's mutex all the same, but
// for the ordinary read and write, whose fibers elide it. Untimed, only
// forget_timed_write(), note_timed_read() and ordinary_timed_read() may be
// called, and each costs one test of the mode.
//
// `Stream` is the stream class (see HLS/hls_internal.h), which derives from
// this mixin and befriends it, and `T` its element type; the mixin holds no
// state.
#ifndef QRN_HLS_INTERNAL_STREAM_TIMED_HOOKS_H
#define QRN_HLS_INTERNAL_STREAM_TIMED_HOOKS_H

#include <mutex>

#include "HLS/internal/depth.h"
#include "HLS/internal/short_path_gate.h"
#include "HLS/internal/stream_registry.h"
#include "HLS/internal/stream_ring.h"
#include "HLS/internal/stream_short_path.h"
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
    if (__builtin_expect(admitted_at_once(), 1)) {
      timed_ops().admit_write(timed_ref());
      return true;
    }
    return admit_unusual_timed_write(lock);
  }
  // Timed runs only: a plain write. An ordinary one (see
  // ordinary_timed_write) takes its cycle and appends, any other takes the
  // stream's general path.
  __attribute__((noinline)) void write_in_timed_run(const T& value) {
    if (ordinary_timed_write()) {
      append_ordinary_timed(value);
      return;
    }
    self().template append<true>(value, packet_sideband());
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
  // The element goes as on the fibers' short path, then the runtime hears of
  // its read (which needs none of the counts the short path moves).
  __attribute__((always_inline)) T take_ordinary_timed() {
    T elem = take_on_short_path(self().ring_, self().info_);
    timed_ops().read(timed_ref());
    return elem;
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
  // No tryWrite of this stream is under way and the FIFO has room: a write
  // only takes its cycle.
  bool admitted_at_once() {
    Stream& s = self();
    return current_write_refusal().stream != &s && !s.info_.full();
  }
  // Timed runs only: whether a plain write needs no more than its cycle and
  // the append: admitted at once, on the main thread, while no trace is
  // recorded and with no poller parked on the stream. No reader sleeps on the
  // stream's condition variable: with fibers, a stream used off the main
  // thread is fatal.
  bool ordinary_timed_write() {
    return on_main_thread_untraced() && admitted_at_once() && self().parked_pollers_ == nullptr;
  }
  // The fibers' short path's append after the element's cycle. Strong
  // guarantee: a throwing copy or growth drops the cycle and leaves the
  // stream as it was.
  void append_ordinary_timed(const T& value) {
    timed_ops().admit_write(timed_ref());
    try {
      append_on_short_path(self().ring_, value, self().info_);
    } catch (...) {
      forget_timed_write();
      throw;
    }
  }
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
