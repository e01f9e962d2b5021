// When an always-running component parks, and for how long.
//
// The always-run loop reports every call to the component's `idle_worker`:
// busy_call() after a call that moved a stream element, idle_call() after one
// that moved nothing; a component that polls in a loop inside its call (a
// task that runs for ever) reports each loop that found nothing (see
// poll_log) as an idle round too, and parks inside the poll. Once calls have moved nothing for
// idle_spin_limit, the worker parks (see parking.h) until a write reaches a stream it found empty,
// the emulation runtime wakes it, or its pause ends. The first pause is
// first_park_pause; each pause that ends without a wake-up doubles the next,
// up to park_limit(), so a component that also waits for something other
// than a stream (a flag, the clock) still runs again within that bound. Many parked
// components share a budget of timed wake-ups instead: with n of them parked
// the bound is at least n * pause_per_parked_component, since every timed
// wake-up costs a context switch (several microseconds on a virtual
// machine) whichever component makes it. After any
// park the worker makes at least two more calls before it parks again, and a
// call that moves an element starts the count afresh. A component whose idle
// calls found no stream empty never parks.
//
// Parking changes when calls happen, never what a call sees. Setting
// QRN_PARK_LIMIT_US=0 turns it off.
#ifndef QRN_HLS_INTERNAL_IDLE_WORKER_H
#define QRN_HLS_INTERNAL_IDLE_WORKER_H

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "HLS/internal/activity.h"
#include "HLS/internal/component_stop.h"
#include "HLS/internal/parking.h"
#include "HLS/internal/settings.h"

namespace qrn {
namespace internal {

// How long calls must have moved nothing before the worker parks: a
// component whose input is only briefly empty keeps polling.
constexpr std::chrono::microseconds idle_spin_limit{50};
constexpr std::chrono::microseconds first_park_pause{100};
constexpr std::chrono::microseconds default_park_limit{4000};
constexpr std::chrono::microseconds largest_park_limit{1000000};
// At most about 2,500 timed wake-ups per second in all.
constexpr std::chrono::microseconds pause_per_parked_component{400};

// Components parked now, in the whole process.
inline std::atomic<int>& parked_components() {
  static std::atomic<int> count{0};  // constant-initialised: no guard, no destructor
  return count;
}

// QRN_PARK_LIMIT_US: the longest pause of a parked component in
// microseconds, 0 to never park. Unset or bad: default_park_limit, and a bad
// value gets one line on standard error.
inline std::chrono::microseconds read_park_limit() {
  const setting limit = setting_value("QRN_PARK_LIMIT_US");
  if (!limit) {
    return default_park_limit;
  }
  char* end = nullptr;
  errno = 0;
  const long long micros = std::strtoll(limit.value, &end, 10);
  if (end == limit.value || *end != '\0' || errno != 0 || micros < 0 ||
      micros > largest_park_limit.count()) {
    std::fprintf(stderr,
                 "qrn: ignoring QRN_PARK_LIMIT_US=%s%s: expected whole microseconds from 0 (never "
                 "park) to %lld; using %lld\n",
                 limit.value, limit.note(), static_cast<long long>(largest_park_limit.count()),
                 static_cast<long long>(default_park_limit.count()));
    note_bad_setting();
    return default_park_limit;
  }
  return std::chrono::microseconds(micros);
}

// Read once per process.
inline std::chrono::microseconds park_limit() {
  static const std::chrono::microseconds limit = read_park_limit();
  return limit;
}

// Per component: its parker, its poll log and the parking decision. Used by
// the component's worker thread only, except parker(), which is thread-safe.
// Aligned to a cache line of its own, and a busy call only reads it unless
// there is something to reset: the worker touches it after every call, and
// it must not share a line with streams that other threads use.
class alignas(64) idle_worker {
 public:
  idle_worker() : limit_(park_limit()), pause_(first_park_pause) {
    if (limit_ < pause_) {
      pause_ = limit_;
    }
    log_.set_pacer([](void* self) { static_cast<idle_worker*>(self)->idle_round(); }, this);
  }
  idle_worker(const idle_worker&) = delete;
  idle_worker& operator=(const idle_worker&) = delete;

  idle_parker& parker() { return parker_; }
  poll_log& log() { return log_; }

  void busy_call() {
    if (countdown_ != calls_per_clock_check || phase_ != phase::fresh || !log_.empty()) {
      restart();
    }
  }

  // After a call that moved nothing: an idle round, and a new round of polls.
  void idle_call() {
    log_.next_round();
    idle_round();
  }

  // An idle round: a call that moved nothing, or a loop of polls inside a
  // call that found nothing (see poll_log). While spinning before a park,
  // each also gives up the processor, so that on a machine with more busy
  // threads than cores the components that have work get it. (Not after a
  // park: the two rounds a woken component makes would cost it a switch to
  // another thread each.)
  void idle_round() {
    if (phase_ == phase::spinning) {
      std::this_thread::yield();
    }
    if (--countdown_ == 0) {
      after_idle_calls();
    }
  }

 private:
  enum class phase : std::uint8_t {
    fresh,     // since the last call that moved something, the clock has not been read
    spinning,  // idle_since_ holds when the idle calls began
    rested,    // parked, or tried to, since: park after the countdown
  };
  // Idle calls between two readings of the clock while spinning.
  static constexpr std::uint32_t calls_per_clock_check = 16;
  // Calls after a park before the next one.
  static constexpr std::uint32_t calls_after_park = 2;

  __attribute__((noinline)) void restart() {
    countdown_ = calls_per_clock_check;
    phase_ = phase::fresh;
    pause_ = limit_ < first_park_pause ? limit_ : first_park_pause;
    log_.clear();
  }

  __attribute__((noinline)) void after_idle_calls() {
    countdown_ = calls_per_clock_check;
    if (limit_.count() == 0) {
      return;
    }
    switch (phase_) {
      case phase::fresh:
        idle_since_ = std::chrono::steady_clock::now();
        phase_ = phase::spinning;
        return;
      case phase::spinning:
        if (std::chrono::steady_clock::now() - idle_since_ < idle_spin_limit) {
          return;
        }
        park();
        return;
      case phase::rested:
        park();
        return;
    }
  }

  // Sleeps unless a logged stream already holds an element; either way the
  // log starts afresh and the next park comes calls_after_park calls later.
  // A component that found no stream empty is not parked at all: it may move
  // its data through something else (its calls then look idle), and nothing
  // could wake it early.
  void park() {
    if (log_.empty()) {
      phase_ = phase::rested;
      countdown_ = calls_per_clock_check;
      return;
    }
    if (log_.enlist_all(parker_)) {
      // What it moved inside a call it parks in is seen by run-all as moved.
      if (always_run_record* record = current_always_run_record()) {
        record->moved.store(moved_elements(), std::memory_order_release);
      }
      const int parked = parked_components().fetch_add(1, std::memory_order_relaxed) + 1;
      const bool woken = parker_.sleep(pause_);
      parked_components().fetch_sub(1, std::memory_order_relaxed);
      halt_if_stopped();  // before leave_all(): a stream it is enlisted in may be gone
      log_.leave_all();
      if (!woken) {
        std::chrono::microseconds longest = pause_per_parked_component * parked;
        longest = longest < limit_               ? limit_
                  : longest > largest_park_limit ? largest_park_limit
                                                 : longest;
        pause_ = pause_ * 2 < longest ? pause_ * 2 : longest;
      }
    }
    log_.clear();
    phase_ = phase::rested;
    countdown_ = calls_after_park;
  }

  idle_parker parker_;
  poll_log log_;
  std::chrono::microseconds limit_;
  std::chrono::microseconds pause_;
  std::chrono::steady_clock::time_point idle_since_{};
  std::uint32_t countdown_ = calls_per_clock_check;
  phase phase_ = phase::fresh;
};

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_IDLE_WORKER_H
