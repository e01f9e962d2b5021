// The lists of waiters one stream keeps, and the poll_site_ops through which
// parking (see parking.h) and the fiber scheduler (see scheduler.h) link
// into them:
//
// - poll_ops(): components parked after a poll found the stream empty; they
//   stay listed while it is empty, and a write wakes them.
// - room_ops(): fibers or the test bench waiting to write into a full
//   stream; a read that makes room wakes one.
// - room_poll_ops(): components parked after a refused write; a read that
//   makes room wakes them.
//
// Every list is guarded by the stream's mutex; enlist and leave take it.
//
// `Stream` is the stream class (see HLS/hls_internal.h), which derives from
// this mixin and befriends it; the mixin holds no state.
#ifndef QRN_HLS_INTERNAL_STREAM_WAITER_LISTS_H
#define QRN_HLS_INTERNAL_STREAM_WAITER_LISTS_H

#include <mutex>

#include "HLS/internal/parking.h"
#include "HLS/internal/stream_registry.h"

namespace qrn {
namespace internal {

template <typename Stream>
class stream_waiter_lists {
 protected:
  static const poll_site_ops& poll_ops() { return waiter_ops<element_pollers>(); }
  static const poll_site_ops& room_ops() { return waiter_ops<fiber_writers>(); }
  static const poll_site_ops& room_poll_ops() { return waiter_ops<room_pollers>(); }

 private:
  // Each list, with the condition under which a waiter stays in it.
  struct element_pollers {
    static constexpr bool for_room = false;
    static poll_site*& list(Stream& s) { return s.parked_pollers_; }
    static bool waiting(Stream& s) { return s._internal_cosim_empty(); }
  };
  struct fiber_writers {
    static constexpr bool for_room = true;
    static poll_site*& list(Stream& s) { return s.info_.depth().fiber_writers; }
    static bool waiting(Stream& s) { return s.info_.full(); }
  };
  struct room_pollers {
    static constexpr bool for_room = true;
    static poll_site*& list(Stream& s) { return s.info_.depth().room_pollers; }
    static bool waiting(Stream& s) { return s.info_.full(); }
  };

  // Links `site` into the `Waiters` list under the stream's mutex; false,
  // linking nothing, when the stream no longer makes it wait.
  template <typename Waiters>
  static bool enlist(void* self, poll_site& site) {
    Stream& s = *static_cast<Stream*>(self);
    std::unique_lock<std::mutex> lock = s.lock_m();
    if (!Waiters::waiting(s)) {
      return false;
    }
    link_parked_poller(Waiters::list(s), site);
    return true;
  }
  template <typename Waiters>
  static void leave(void* self, poll_site& site) {
    Stream& s = *static_cast<Stream*>(self);
    std::unique_lock<std::mutex> lock = s.lock_m();
    unlink_parked_poller(Waiters::list(s), site);
  }
  static stream_info& info_of(void* self) { return static_cast<Stream*>(self)->info_; }
  template <typename Waiters>
  static const poll_site_ops& waiter_ops() {
    static const poll_site_ops ops = {&enlist<Waiters>, &leave<Waiters>, &info_of,
                                      Waiters::for_room};
    return ops;
  }
};

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_STREAM_WAITER_LISTS_H
