// The storage of one stream: a ring of entries, each an element with its
// packet sideband, oldest first.
//
// - The ring grows by doubling, never past the bound its caller gives (a
//   bounded stream's depth), and never shrinks; an unbounded stream's ring is
//   as large as its largest backlog, rounded up to a power of two.
// - Strong guarantee: an append whose copy of the element throws, or whose
//   growth cannot allocate or relocate, leaves the ring as it was; so does a
//   take whose copy out of the ring throws. Elements are relocated and taken
//   by move when T's move constructor cannot throw, by copy otherwise.
//
// Not thread-safe: the stream guards its ring with its mutex.
#ifndef QRN_HLS_INTERNAL_STREAM_RING_H
#define QRN_HLS_INTERNAL_STREAM_RING_H

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

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
  const T& front() const { return slot(0).value; }
  const packet_sideband& front_sideband() const { return slot(0).band; }

  // ---- Changes ----------------------------------------------------------------
  // Appends a copy of `value` with `band`; when the ring is full it first
  // grows, to at most `bound` entries (but always to room for this one).
  void push_back(const T& value, const packet_sideband& band, std::size_t bound) {
    if (size_ == capacity_) {
      grow(bound);
    }
    ::new (static_cast<void*>(slots_ + index(size_))) entry{value, band};
    ++size_;
  }
  // Removes the oldest element and returns it; requires a nonempty ring.
  T pop_front() {
    T value(std::move_if_noexcept(slots_[head_].value));
    drop_front();
    return value;
  }
  // Removes the oldest element; requires a nonempty ring.
  void drop_front() {
    slots_[head_].~entry();
    head_ = head_ + 1 == capacity_ ? 0 : head_ + 1;
    --size_;
  }

 private:
  struct entry {
    T value;
    packet_sideband band;
  };
  static constexpr std::size_t first_capacity = 16;

  // The slot of the i-th oldest entry; i <= size() < capacity() or i < size().
  std::size_t index(std::size_t i) const {
    const std::size_t at = head_ + i;
    return at >= capacity_ ? at - capacity_ : at;
  }
  const entry& slot(std::size_t i) const { return slots_[index(i)]; }

  // Moves the entries into a larger array, oldest at slot 0.
  __attribute__((noinline)) void grow(std::size_t bound) {
    std::size_t larger = capacity_ == 0 ? first_capacity : 2 * capacity_;
    if (larger > bound) {
      larger = bound;
    }
    if (larger <= size_) {
      larger = size_ + 1;
    }
    entry* fresh = std::allocator<entry>().allocate(larger);
    std::size_t moved = 0;
    try {
      for (; moved != size_; ++moved) {
        entry& from = slots_[index(moved)];
        ::new (static_cast<void*>(fresh + moved))
            entry{std::move_if_noexcept(from.value), from.band};
      }
    } catch (...) {
      while (moved != 0) {
        fresh[--moved].~entry();
      }
      release(fresh, larger);
      throw;
    }
    for (std::size_t i = 0; i != size_; ++i) {
      slots_[index(i)].~entry();
    }
    release(slots_, capacity_);
    slots_ = fresh;
    capacity_ = larger;
    head_ = 0;
  }
  static void release(entry* slots, std::size_t count) {
    if (slots != nullptr) {
      std::allocator<entry>().deallocate(slots, count);
    }
  }

  entry* slots_ = nullptr;  // capacity_ slots; size_ live entries from head_, wrapping around
  std::size_t capacity_ = 0;
  std::size_t head_ = 0;  // the oldest entry's slot
  std::size_t size_ = 0;
};

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_STREAM_RING_H
