// Launches that reach a task before its worker object is constructed.
//
// A task's worker is a static object, and static objects of different
// translation units (and class-template statics) are initialised in no fixed
// order: a test bench may launch a component from the constructor of a
// static object that happens to be initialised before the component's
// worker. The worker keeps one `early_launches` list as a constant-
// initialised static member, usable throughout static initialisation; a
// launch that finds the list still open leaves its invocation there, and the
// worker's constructor closes the list and queues what it holds, in launch
// order. Every launch after that goes to the worker's queue directly.
#ifndef QRN_HLS_INTERNAL_EARLY_LAUNCHES_H
#define QRN_HLS_INTERNAL_EARLY_LAUNCHES_H

#include <atomic>
#include <functional>
#include <memory>

namespace qrn {
namespace internal {

class early_launches {
 public:
  using invocation = std::function<void()>*;

  constexpr early_launches() = default;

  // Keeps `fnc` for the worker unless the list is closed; true when kept.
  // May throw std::bad_alloc, keeping nothing. Thread-safe.
  bool hold(invocation fnc) {
    node* head = head_.load(std::memory_order_acquire);
    if (head == closed()) {
      return false;
    }
    std::unique_ptr<node> entry(new node{fnc, head});
    while (!head_.compare_exchange_weak(entry->next, entry.get(), std::memory_order_acq_rel,
                                        std::memory_order_acquire)) {
      if (entry->next == closed()) {
        return false;
      }
    }
    entry.release();
    return true;
  }

  // Closes the list and passes each kept invocation to `queue`, oldest
  // first. Called by every constructor of the worker type; only the first
  // finds anything.
  template <typename Queue>
  void close(Queue queue) {
    node* newest = head_.exchange(closed(), std::memory_order_acq_rel);
    if (newest == closed()) {
      return;
    }
    node* oldest = nullptr;
    while (newest != nullptr) {  // reverse into launch order
      node* next = newest->next;
      newest->next = oldest;
      oldest = newest;
      newest = next;
    }
    while (oldest != nullptr) {
      std::unique_ptr<node> entry(oldest);
      oldest = entry->next;
      queue(entry->fnc);
    }
  }

 private:
  struct node {
    invocation fnc;
    node* next;
  };

  static node* closed() {
    static node marker;  // zero-initialised; only its address is used
    return &marker;
  }

  std::atomic<node*> head_{nullptr};  // newest kept launch, or closed()
};

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_EARLY_LAUNCHES_H
