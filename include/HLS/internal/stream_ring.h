// The storage of one stream: a ring of entries, each an element with its
// packet sideband, oldest first.
//
// - The ring grows by doubling, never past the bound its caller gives (a
//   bounded stream's depth), and never shrinks (trivially copyable entries
//   grow in place where the allocator can); an unbounded stream's ring is
//   as large as its largest backlog, rounded up to a power of two. Each
//   growth of the ring of a stream is checked against the ceiling on a
//   stream's storage (see stream_ceiling.h).
// - Strong guarantee: an append whose copy of the element throws, or whose
//   growth cannot allocate or relocate, leaves the ring as it was; so does a
//   take whose copy out of the ring throws. Elements are relocated and taken
//   by move when T's move constructor cannot throw, by copy otherwise.
//
// Not thread-safe: the stream guards its ring with its mutex.
#ifndef QRN_HLS_INTERNAL_STREAM_RING_H
#define QRN_HLS_INTERNAL_STREAM_RING_H

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "HLS/internal/stream_ceiling.h"

namespace qrn {
namespace internal {

// An element's packet sideband: start-of-packet, end-of-packet and the
// empty-symbol count. A plain write stores the default.
struct packet_sideband {
  bool sop = false;
  bool eop = false;
  int empty = 0;
};

template <typename T>
class stream_ring {
 public:
  stream_ring() = default;
  stream_ring(const stream_ring&) = delete;
  stream_ring& operator=(const stream_ring&) = delete;
  ~stream_ring() {
    while (size_ != 0) {
      drop_front();
    }
    release(slots_, capacity_);
  }

  // ---- Queries ----------------------------------------------------------------
  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  // The i-th oldest element; requires i < size().
  const T& operator[](std::size_t i) const { return slot(i).value; }
  // Require a nonempty ring.
  const T& front() const { return head_->value; }
  const packet_sideband& front_sideband() const { return head_->band; }

  // ---- Changes ----------------------------------------------------------------
  // Appends a copy of `value` with `band`; when the ring is full it first
  // grows, to at most `bound` entries (but always to room for this one), if
  // the ceiling lets the ring of `owner` (null: of no stream) grow.
  __attribute__((always_inline)) void push_back(const T& value, const packet_sideband& band,
                                                std::size_t bound,
                                                const stream_info* owner = nullptr) {
    if (size_ == capacity_) {
      grow(bound, owner);
    }
    ::new (static_cast<void*>(tail_)) entry{value, band};
    if (++tail_ == end_) {
      tail_ = slots_;
    }
    ++size_;
  }
  // Removes the oldest element and returns it; requires a nonempty ring.
  __attribute__((always_inline)) T pop_front() {
    T value(std::move_if_noexcept(head_->value));
    drop_front();
    return value;
  }
  // Removes the oldest element; requires a nonempty ring.
  __attribute__((always_inline)) void drop_front() {
    head_->~entry();
    if (++head_ == end_) {
      head_ = slots_;
    }
    --size_;
  }

 private:
  struct entry {
    T value;
    packet_sideband band;
  };
  static constexpr std::size_t first_capacity = 16;

  // The i-th oldest entry; requires i < size().
  entry& slot(std::size_t i) const {
    const auto before_end = static_cast<std::size_t>(end_ - head_);
    return i < before_end ? head_[i] : slots_[i - before_end];
  }

  // Trivially copyable entries live in a malloc'd array that grows with
  // realloc, which often extends it in place or remaps its pages: a backlog
  // that only grows (a test bench writing all its input first) is never
  // copied. Other entries are relocated one by one into a new array.
  static constexpr bool reallocated =
      std::is_trivially_copyable<entry>::value && alignof(entry) <= alignof(std::max_align_t);

  // Makes room for more entries, to at most `bound` (but at least one more).
  // Requires a full ring.
  __attribute__((noinline)) void grow(std::size_t bound, const stream_info* owner) {
    std::size_t larger = capacity_ == 0 ? first_capacity : 2 * capacity_;
    if (larger > bound) {
      larger = bound;
    }
    if (larger <= size_) {
      larger = size_ + 1;
    }
    check_stream_growth(owner, size_, larger * sizeof(entry));
    grow_to(larger, std::integral_constant<bool, reallocated>());
    capacity_ = larger;
    end_ = slots_ + larger;
  }
  // Extends the array, then moves the entries from the head to the old end
  // (when the head is not at the start) to the new end, keeping the order.
  void grow_to(std::size_t larger, std::true_type /*reallocated*/) {
    void* fresh = std::realloc(slots_, larger * sizeof(entry));
    if (fresh == nullptr) {
      throw std::bad_alloc();
    }
    const auto head = static_cast<std::size_t>(head_ - slots_);
    slots_ = static_cast<entry*>(fresh);
    if (head != 0) {  // wrapped: [head, old end) then [0, head)
      const std::size_t to_end = capacity_ - head;
      std::memmove(static_cast<void*>(slots_ + larger - to_end), slots_ + head,
                   to_end * sizeof(entry));
      head_ = slots_ + larger - to_end;
      tail_ = slots_ + head;
    } else {
      head_ = slots_;
      tail_ = slots_ + size_;
    }
  }
  // Copies the entries, oldest first, into a new array and ends the old
  // ones; on failure ends the copies, frees the new array and rethrows.
  void grow_to(std::size_t larger, std::false_type /*reallocated*/) {
    entry* fresh = std::allocator<entry>().allocate(larger);
    std::size_t moved = 0;
    try {
      for (; moved != size_; ++moved) {
        entry& from = slot(moved);
        ::new (static_cast<void*>(fresh + moved))
            entry{std::move_if_noexcept(from.value), from.band};
      }
    } catch (...) {
      while (moved != 0) {
        fresh[--moved].~entry();
      }
      std::allocator<entry>().deallocate(fresh, larger);
      throw;
    }
    for (std::size_t i = 0; i != size_; ++i) {
      slot(i).~entry();
    }
    release(slots_, capacity_);
    slots_ = fresh;
    head_ = fresh;
    tail_ = fresh + size_;
  }
  static void release(entry* slots, std::size_t count) {
    if (slots == nullptr) {
      return;
    }
    if (reallocated) {
      std::free(slots);
    } else {
      std::allocator<entry>().deallocate(slots, count);
    }
  }

  entry* slots_ = nullptr;  // capacity_ slots, to end_; size_ live entries from head_, wrapping
  entry* end_ = nullptr;
  entry* head_ = nullptr;  // the oldest entry
  entry* tail_ = nullptr;  // the slot after the newest entry
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
};

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_STREAM_RING_H
