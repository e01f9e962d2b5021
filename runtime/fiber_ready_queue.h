// The fibers ready to run, and which runs next.
//
// Untimed, they run in turn (a FIFO), or with a seed in an order drawn from
// it. In a timed run (QRN_TIME=cycles) the fiber whose clock is earliest runs
// first: each enters with a key, its clock (or the cycle it waits for), and
// ties go in the order they entered, or with a seed in a drawn order.
//
// Main thread only.
#ifndef QRN_RUNTIME_FIBER_READY_QUEUE_H
#define QRN_RUNTIME_FIBER_READY_QUEUE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "value_ring.h"

namespace qrn_runtime {

template <typename Fiber>
class fiber_ready_queue {
 public:
  explicit fiber_ready_queue(bool timed) : timed_(timed) {}

  bool empty() const { return timed_ ? by_clock_.empty() : in_turn_.empty(); }

  // `tie` orders equal keys (timed only): increasing, or drawn when seeded.
  void push(Fiber* fiber, std::uint64_t key, std::uint64_t tie) {
    if (!timed_) {
      in_turn_.push_back(fiber);
      return;
    }
    by_clock_.push_back({key, tie, fiber});
    std::push_heap(by_clock_.begin(), by_clock_.end(), later());
  }

  // Untimed, `pick` chooses the index among the ready fibers; timed, the
  // earliest key runs.
  template <typename Pick>
  Fiber* pop(Pick pick) {
    if (!timed_) {
      return in_turn_.take(pick(in_turn_.size()));
    }
    std::pop_heap(by_clock_.begin(), by_clock_.end(), later());
    Fiber* next = by_clock_.back().fiber;
    by_clock_.pop_back();
    return next;
  }

  // Timed: the earliest key waiting, or the largest key when none waits.
  std::uint64_t earliest_key() const {
    return by_clock_.empty() ? UINT64_MAX : by_clock_.front().key;
  }

  // Timed: whether a fiber waits to run at a cycle before `key`.
  bool any_before(std::uint64_t key) const {
    return timed_ && !by_clock_.empty() && by_clock_.front().key < key;
  }

  template <typename Visit>
  void for_each(Visit visit) const {
    for (std::size_t i = 0; i < in_turn_.size(); ++i) {
      visit(*in_turn_[i]);
    }
    for (const entry& waiting : by_clock_) {
      visit(*waiting.fiber);
    }
  }

 private:
  struct entry {
    std::uint64_t key;
    std::uint64_t tie;
    Fiber* fiber;
  };
  struct later {
    bool operator()(const entry& a, const entry& b) const {
      return a.key != b.key ? a.key > b.key : a.tie > b.tie;
    }
  };

  const bool timed_;
  value_ring<Fiber*> in_turn_;
  std::vector<entry> by_clock_;  // a min-heap on (key, tie)
};

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_FIBER_READY_QUEUE_H
