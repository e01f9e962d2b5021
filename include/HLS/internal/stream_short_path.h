// The short path of stream operations with fibers (see short_stream_path in
// scheduler.h): a plain read of a nonempty stream that no writer waits on, and
// a plain write into a stream with room that no one waits on, only move the
// element and count it. No lock is taken, no one is woken, nothing is traced
// or timed; every other case takes the stream's general path.
//
// Scheduling thread only (the caller has checked short_stream_path()).
#ifndef QRN_HLS_INTERNAL_STREAM_SHORT_PATH_H
#define QRN_HLS_INTERNAL_STREAM_SHORT_PATH_H

#include "HLS/internal/activity.h"
#include "HLS/internal/parking.h"
#include "HLS/internal/scheduler.h"
#include "HLS/internal/stream_registry.h"
#include "HLS/internal/stream_ring.h"

namespace qrn {
namespace internal {

// Whether a plain read of the stream whose storage is `ring` may take the
// short path. A writer waiting for room stays counted asleep until it runs
// again, but once a read has woken it, it has left the list of waiting
// writers: no later read needs to wake it.
template <typename T>
__attribute__((always_inline)) inline bool short_read_applies(const stream_ring<T>& ring,
                                                              stream_info& info) {
  return short_stream_path() && !ring.empty() && !info.depth().room_awaited();
}

// Whether a plain write to the stream whose storage is `ring` may take the
// short path; `parked` is its list of components parked until a write, taken
// by reference so that it is read only on the scheduling thread (other
// threads change it under the stream's lock).
template <typename T>
__attribute__((always_inline)) inline bool short_write_applies(const stream_ring<T>& ring,
                                                               const stream_info& info,
                                                               poll_site* const& parked) {
  return short_stream_path() && ring.size() < info.depth().capacity && parked == nullptr;
}

// The short path's read: takes the oldest element of `ring`.
template <typename T>
__attribute__((always_inline)) inline T take_on_short_path(stream_ring<T>& ring,
                                                           stream_info& info) {
  T elem = ring.pop_front();
  info.note_read();
  ++moved_elements();
  return elem;
}

// The short path's write: appends `value` with no sideband.
template <typename T>
__attribute__((always_inline)) inline void append_on_short_path(stream_ring<T>& ring,
                                                                const T& value, stream_info& info) {
  ring.push_back(value, packet_sideband(), info.depth().capacity, &info);
  info.note_written(ring.size());
  ++moved_elements();
}

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_STREAM_SHORT_PATH_H
