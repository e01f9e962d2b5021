// A first-in first-out queue of small trivially copyable values in one ring
// that doubles when full and never shrinks: the timed run's per-stream
// stamps and the fibers ready to run, where a std::deque's block map costs
// more than the values.
//
// Not thread-safe: its owner guards it.
#ifndef QRN_RUNTIME_VALUE_RING_H
#define QRN_RUNTIME_VALUE_RING_H

#include <algorithm>
#include <cstddef>
#include <type_traits>
#include <vector>

namespace qrn_runtime {

template <typename T>
class value_ring {
  static_assert(std::is_trivially_copyable<T>::value, "values are copied as they are");

 public:
  bool empty() const { return head_ == tail_; }
  std::size_t size() const { return tail_ - head_; }
  // The i-th oldest value; requires i < size().
  const T& operator[](std::size_t i) const { return slots_[(head_ + i) & mask_]; }
  // The values as they are now, for a loop that reads many: view[i] is the
  // i-th oldest while the ring does not change.
  struct view {
    const T* slots;
    std::size_t head;
    std::size_t mask;
    const T& operator[](std::size_t i) const { return slots[(head + i) & mask]; }
  };
  view values() const { return {slots_.data(), head_, mask_}; }
  // Require a nonempty ring.
  const T& front() const { return slots_[head_ & mask_]; }
  const T& back() const { return slots_[(tail_ - 1) & mask_]; }
  void pop_front() { ++head_; }
  // Removes the `count` oldest values; requires count <= size().
  void drop_front(std::size_t count) { head_ += count; }
  void pop_back() { --tail_; }
  // Removes and returns the i-th oldest value, the others keeping their
  // order; requires i < size().
  T take(std::size_t i) {
    const T taken = (*this)[i];
    for (; i > 0; --i) {
      slots_[(head_ + i) & mask_] = slots_[(head_ + i - 1) & mask_];
    }
    ++head_;
    return taken;
  }

  void push_back(const T& value) {
    if (__builtin_expect(size() == capacity_, 0)) {
      grow();
    }
    slots_[tail_++ & mask_] = value;
  }

 private:
  __attribute__((noinline)) void grow() {
    std::vector<T> larger(std::max<std::size_t>(16, 2 * slots_.size()));
    for (std::size_t i = head_; i != tail_; ++i) {
      larger[i - head_] = slots_[i & mask_];
    }
    tail_ -= head_;
    head_ = 0;
    slots_.swap(larger);
    capacity_ = slots_.size();
    mask_ = capacity_ - 1;
  }

  std::vector<T> slots_;  // a power of two of them, or none
  std::size_t head_ = 0;  // the oldest value's position; positions only grow
  std::size_t tail_ = 0;  // one past the newest's
  std::size_t mask_ = 0;
  std::size_t capacity_ = 0;  // slots_.size()
};

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_VALUE_RING_H
