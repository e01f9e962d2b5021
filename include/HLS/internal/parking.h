// Parked pollers: how a stream wakes an always-running component that sleeps
// until one of the streams it polls gets an element.
//
// - Each always-running component has an `idle_parker`, a futex word that its
//   worker thread sleeps on while parked. Wakers only exchange the word and
//   make a wake-up call; a parker is a static of its component and is never
//   destroyed, so a waker may use it after releasing any lock.
// - While a component's calls move nothing, its worker thread logs, in its
//   `poll_log`, every stream that a tryRead or tryPeek on that thread found empty
//   (log_empty_poll). Other threads log nothing.
// - To park, the worker enlists one `poll_site` per logged stream in that
//   stream's list of parked pollers, then sleeps; waking, it leaves every list.
//
// No lost wake-up: enlisting takes the stream's mutex and fails when the
// stream holds an element (a write came after the empty poll), and a write
// looks at the list under the same mutex. So a write either makes the park
// fail or finds the poller enlisted and wakes it. The parker sleeps only if
// it can move its word from `running` to `parked`, and a wake-up first sets
// the word to `woken`, so a wake-up that comes before the sleep cancels it.
//
// Locks: a stream's list of parked pollers is guarded by that stream's mutex.
// A worker holds at most one stream mutex at a time while enlisting or
// leaving; a waker touches nothing but parker words while it holds one.
#ifndef QRN_HLS_INTERNAL_PARKING_H
#define QRN_HLS_INTERNAL_PARKING_H

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>

#include "HLS/internal/activity.h"

namespace qrn {
namespace internal {

class idle_parker {
 public:
  constexpr idle_parker() = default;
  idle_parker(const idle_parker&) = delete;
  idle_parker& operator=(const idle_parker&) = delete;

  // Wakes the worker if it sleeps; otherwise its next sleep() returns at
  // once. Thread-safe.
  void wake() {
    if (word_.exchange(woken) == parked) {
      futex(FUTEX_WAKE_PRIVATE, 1, nullptr);
    }
  }

  // True from just before the worker sleeps until it is woken or its pause
  // ends. Thread-safe.
  bool parked_now() const { return word_.load() == parked; }

  // Sleeps begun so far (each park of the worker). Thread-safe.
  std::uint64_t sleeps() const { return sleeps_.load(std::memory_order_acquire); }

  // Worker thread only: sleeps for at most `pause` unless woken. Returns true
  // when a wake() came (before or during the sleep), false when the pause
  // ended without one.
  bool sleep(std::chrono::microseconds pause) {
    sleeps_.store(sleeps_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    std::uint32_t expected = running;
    if (word_.compare_exchange_strong(expected, parked)) {
      const timespec timeout{static_cast<time_t>(pause.count() / 1000000),
                             static_cast<long>(pause.count() % 1000000 * 1000)};
      futex(FUTEX_WAIT_PRIVATE, parked, &timeout);  // returns at once once woken
    }
    return word_.exchange(running) == woken;
  }

 private:
  enum : std::uint32_t { running, parked, woken };

  void futex(int op, std::uint32_t value, const timespec* timeout) {
    static_assert(sizeof(word_) == sizeof(std::uint32_t), "the futex word is the atomic itself");
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word_), op, value, timeout, nullptr, 0);
  }

  std::atomic<std::uint32_t> word_{running};
  std::atomic<std::uint64_t> sleeps_{0};  // written by the worker only
};

struct poll_site;

// How a worker reaches a stream of any element type. Each function takes the
// stream's mutex for its whole duration.
struct poll_site_ops {
  // Links `site` into the stream's parked list; false, linking nothing, when
  // the stream holds an element.
  bool (*enlist)(void* stream, poll_site& site);
  // Unlinks `site`, which enlist() linked.
  void (*leave)(void* stream, poll_site& site);
  // The stream's registry entry.
  stream_info& (*info)(void* stream);
  // Whether the waiter waits for room (else for an element).
  bool for_room;
};

// One stream that a worker found empty, and its link in that stream's list
// of parked pollers while the worker is parked.
struct poll_site {
  void* stream = nullptr;
  const poll_site_ops* ops = nullptr;
  idle_parker* parker = nullptr;
  // With fibers (see scheduler.h): called instead of waking `parker`, with
  // `waiter` the fiber or test bench that waits.
  void (*notify)(const poll_site& site) = nullptr;
  void* waiter = nullptr;
  poll_site* prev = nullptr;  // guarded by the stream's mutex
  poll_site* next = nullptr;  // guarded by the stream's mutex
  bool linked = false;        // guarded by the stream's mutex: in the stream's list
};

// Parked-list operations; each requires the owning stream's mutex.
inline void link_parked_poller(poll_site*& head, poll_site& site) {
  site.prev = nullptr;
  site.next = head;
  if (head != nullptr) {
    head->prev = &site;
  }
  head = &site;
  site.linked = true;
}

// Does nothing when a wake-up has already taken `site` out of the list.
inline void unlink_parked_poller(poll_site*& head, poll_site& site) {
  if (!site.linked) {
    return;
  }
  (site.prev != nullptr ? site.prev->next : head) = site.next;
  if (site.next != nullptr) {
    site.next->prev = site.prev;
  }
  site.prev = nullptr;
  site.next = nullptr;
  site.linked = false;
}

// Called by a write that found parked pollers on its stream (or a read that
// found writers waiting for room): wakes each and empties the list. A woken
// poller looks at its streams again before it parks again, so later changes
// need not wake it, and with fibers they take the short path meanwhile. Each
// site leaves the list before its waiter is woken, so the waker touches no
// site after a wake-up.
__attribute__((noinline)) inline void wake_parked_pollers(poll_site*& head) {
  poll_site* site = head;
  head = nullptr;
  while (site != nullptr) {
    poll_site* const next = site->next;
    site->prev = nullptr;
    site->next = nullptr;
    site->linked = false;
    if (site->notify != nullptr) {
      site->notify(*site);
    } else {
      site->parker->wake();
    }
    site = next;
  }
}

// The streams a component found empty (or full, for a refused write) since
// it last moved an element or woke, and who paces it. Used by the
// component's own thread (or fiber) only.
//
// Polls inside one call come in rounds: a component that polls a stream it
// already polled in this round, having moved nothing since, has gone round
// its polling loop once without finding anything, which is an idle round for
// its pacer, as a call that moved nothing is (see idle_worker.h and
// scheduler.h). The always-run loop starts a new round after each call, so a
// component that polls once per call is paced by its calls alone.
class poll_log {
 public:
  // Streams past this many are not logged: a write to one of them does not
  // wake the worker, which then runs again when its pause ends (or, with
  // fibers, when the scheduler wakes every poller).
  static constexpr unsigned capacity = 32;

  // Who is told of an idle round inside a call: `idle_round(pacer)`.
  void set_pacer(void (*on_idle_round)(void*), void* pacer) {
    idle_round_ = on_idle_round;
    pacer_ = pacer;
  }

  // Logs `stream`, which a poll found empty (or full); true when that poll
  // ends an idle round. `moved` is the caller's moved count: one that
  // changed since the log began starts it afresh. Out of line: the empty path
  // of a poll inlines only the test for a log.
  __attribute__((noinline)) bool note(void* stream, const poll_site_ops& ops, std::uint64_t moved) {
    if (moved != moved_) {
      moved_ = moved;
      size_ = 0;
    }
    for (unsigned i = 0; i < size_; ++i) {
      if (sites_[i].stream == stream) {
        const bool again = rounds_[i] == round_;
        rounds_[i] = round_;
        return again;
      }
    }
    if (size_ == capacity) {
      return true;  // more streams than it keeps: count the round as gone
    }
    sites_[size_].stream = stream;
    sites_[size_].ops = &ops;
    rounds_[size_] = round_;
    ++size_;
    return false;
  }

  // Tells the pacer of an idle round inside a call (it may park the caller).
  void idle_round() {
    if (idle_round_ != nullptr) {
      idle_round_(pacer_);
    }
  }

  // Starts a new round: every stream may be polled once more without ending it.
  void next_round() { ++round_; }

  // Drops `stream` (being destroyed) from the log.
  void forget(const void* stream) {
    for (unsigned i = 0; i < size_; ++i) {
      if (sites_[i].stream == stream) {
        sites_[i] = sites_[--size_];
        return;
      }
    }
  }

  void clear() { size_ = 0; }
  bool empty() const { return size_ == 0; }

  // Enlists `parker` in every logged stream. False, with nothing enlisted,
  // when one of them holds an element.
  bool enlist_all(idle_parker& parker) {
    for (unsigned i = 0; i < size_; ++i) {
      sites_[i].parker = &parker;
    }
    return enlist_sites();
  }

  // As enlist_all(), for a fiber: a write calls `notify` with `waiter` set.
  bool enlist_all(void (*notify)(const poll_site&), void* waiter) {
    for (unsigned i = 0; i < size_; ++i) {
      sites_[i].notify = notify;
      sites_[i].waiter = waiter;
    }
    return enlist_sites();
  }

  // Undoes a successful enlist_all().
  void leave_all() { leave_first(size_); }

  // Calls `visit(site)` for each stream logged.
  template <typename Visit>
  void for_each(Visit visit) const {
    for (unsigned i = 0; i < size_; ++i) {
      visit(sites_[i]);
    }
  }

 private:
  bool enlist_sites() {
    for (unsigned i = 0; i < size_; ++i) {
      if (!sites_[i].ops->enlist(sites_[i].stream, sites_[i])) {
        leave_first(i);
        return false;
      }
    }
    return true;
  }

  void leave_first(unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
      sites_[i].ops->leave(sites_[i].stream, sites_[i]);
    }
  }

  std::array<poll_site, capacity> sites_{};
  std::array<std::uint32_t, capacity> rounds_{};  // the round each stream was last polled in
  unsigned size_ = 0;
  std::uint32_t round_ = 0;
  std::uint64_t moved_ = 0;  // the owner's moved count when the log began
  void (*idle_round_)(void*) = nullptr;
  void* pacer_ = nullptr;
};

// The log of the always-running component that the calling thread runs, or
// null on every other thread.
inline poll_log*& current_poll_log() {
  static thread_local poll_log* log = nullptr;
  return log;
}

// A poll point: called by a tryRead, tryPeek or empty() that found `stream`
// empty, and by a write that a full stream refused (then `ops` enlist for
// room), after releasing the stream's mutex. On a component's thread or
// fiber it logs the stream, and an idle round may park the component until
// one of its logged streams changes.
inline void log_empty_poll(void* stream, const poll_site_ops& ops) {
  if (poll_log* log = current_poll_log()) {
    if (log->note(stream, ops, moved_elements())) {
      log->idle_round();
    }
  }
}

// Called by a stream's destructor.
inline void forget_polled_stream(const void* stream) {
  if (poll_log* log = current_poll_log()) {
    log->forget(stream);
  }
}

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_PARKING_H
