// The blocking waits of one stream: a read that waits for an element and a
// write that waits for room.
//
// - On threads, a reader polls for read_spin_limit with the stream's mutex
//   released between polls, then sleeps on the stream's `cv_`, counted in
//   `sleepers_`; a write wakes one sleeper that no earlier write has woken
//   (`woken_`). A writer waits for room as depth.h's await_room() says.
// - With fibers, the calling fiber (or the test bench) asks the fiber
//   scheduler to run components until a write (a read) reaches the stream.
// - Every waiting thread is counted in `waiters_` and, at each safe point,
//   halts when the stream is being destroyed (`doomed_`) or its component is
//   stopped (see component_stop.h), passing on a wake-up it may have taken.
//
// Every function requires the stream's mutex held through `lock` unless it
// says otherwise, and returns with it held. The counters are the stream's
// members, guarded by its mutex.
//
// `Stream` is the stream class (see HLS/hls_internal.h), which derives from
// this mixin and befriends it; the mixin holds no state.
#ifndef QRN_HLS_INTERNAL_STREAM_WAITS_H
#define QRN_HLS_INTERNAL_STREAM_WAITS_H

#include <chrono>
#include <cstdint>
#include <mutex>

#include "HLS/internal/activity.h"
#include "HLS/internal/component_stop.h"
#include "HLS/internal/depth.h"
#include "HLS/internal/diagnostic_hooks.h"
#include "HLS/internal/scheduler.h"
#include "HLS/internal/spin.h"
#include "HLS/internal/stream_registry.h"
#include "HLS/internal/trace.h"

namespace qrn {
namespace internal {

template <typename Stream>
class stream_waits {
 protected:
  // Returns with an element present: waits for one when `wait`, otherwise
  // an empty stream is fatal.
  void await_element(std::unique_lock<std::mutex>& lock, bool wait) {
    Stream& s = self();
    if (!s._internal_cosim_empty()) {
      return;
    }
    if (!wait) {
      s.require_element();
      return;
    }
    if (fiber_scheduling()) {
      await_write_on_fibers();
      return;
    }
    s.info_.note_reader();
    ++s.waiters_;
    wait_for_element(lock);
    --s.waiters_;
  }

  // Requires the stream to be full; waits, counted in `waiters_`, until it
  // has room (true) or a tryWrite is refused (false).
  bool wait_for_room(std::unique_lock<std::mutex>& lock) {
    if (fiber_scheduling()) {
      return await_room_on_fibers();
    }
    Stream& s = self();
    ++s.waiters_;
    const bool room = await_room(
        lock, s.info_.depth(), s.info_, &s, [&s] { return s.info_.full(); },
        [this, &lock] { halt_if_stopped_while_waiting(lock); });
    --s.waiters_;
    return room;
  }

  // Wakes one reader sleeping on `cv_` that no earlier write has woken.
  void wake_a_reader() {
    Stream& s = self();
    if (s.sleepers_ > s.woken_) {
      ++s.woken_;
      note_wakeup_sent();
      s.cv_.notify_one();
    }
  }

  // A safe point of a waiting reader or writer: when the stream is being
  // destroyed or the thread's component is stopped, the thread leaves the
  // stream and halts, releasing the mutex. A wake-up it may have taken for
  // an element or for room is passed on to another sleeper.
  void halt_if_stopped_while_waiting(std::unique_lock<std::mutex>& lock) {
    Stream& s = self();
    if (s.doomed_ || stop_requested_here()) {
      --s.waiters_;
      if (!s.doomed_ && !s._internal_cosim_empty()) {
        wake_a_reader();
      }
      if (!s.doomed_ && !s.info_.full()) {
        wake_a_writer(s.info_.depth());
      }
      lock.unlock();
      halt_this_thread(&s.info_);
    }
  }

 private:
  Stream& self() { return static_cast<Stream&>(*this); }

  // Polls for an element with the mutex released between polls, for at most
  // read_spin_limit; true when an element is there. A polling reader is
  // awake: it is not counted in `sleepers_` nor reported asleep, so writers
  // send it no wake-up.
  bool poll_for_element(std::unique_lock<std::mutex>& lock) {
    const std::chrono::steady_clock::time_point give_up =
        std::chrono::steady_clock::now() + read_spin_limit;
    for (unsigned int poll = 1;; ++poll) {
      pause_between_polls(lock, poll);
      if (!self()._internal_cosim_empty()) {
        return true;
      }
      halt_if_stopped_while_waiting(lock);
      if (std::chrono::steady_clock::now() >= give_up) {
        return false;
      }
    }
  }

  // The waiting part of await_element on threads: polls, then sleeps until
  // an element is there.
  void wait_for_element(std::unique_lock<std::mutex>& lock) {
    Stream& s = self();
    const bool traced = tracing();  // the whole wait is traced, or none of it
    if (traced) {
      trace_thread_entered(&s.info_, trace_thread_state::polling);
    }
    if (poll_for_element(lock)) {
      return;
    }
    const hang_watch watch{std::chrono::steady_clock::now(), &s.info_};
    if (traced) {
      trace_thread_entered(&s.info_, trace_thread_state::asleep);
    }
    bool ran_out = false;  // the last sleep was timed and ended without a wake-up
    do {
      ++s.sleepers_;
      note_thread_sleeps(s.info_,
                         std::chrono::duration_cast<std::chrono::nanoseconds>(
                             watch.asleep_since.time_since_epoch())
                             .count(),
                         waiting_for::element);
      sleep_on_cv(lock, watch, ran_out);
      --s.sleepers_;
      const bool signalled = s.woken_ > 0;
      if (signalled) {
        --s.woken_;
      }
      note_thread_woke(signalled, waiting_for::element);
      halt_if_stopped_while_waiting(lock);
    } while (s._internal_cosim_empty());
    if (traced) {
      trace_thread_entered(nullptr, trace_thread_state::running);
    }
    note_reader_slept_since(watch.asleep_since);
  }

  // One sleep on `cv_`. With hang checks on, it first looks for a hang, which
  // tells how long to sleep until the next look (still counted as asleep);
  // sets `ran_out` when that time passed without a wake-up.
  void sleep_on_cv(std::unique_lock<std::mutex>& lock, const hang_watch& watch, bool& ran_out) {
    Stream& s = self();
    std::chrono::nanoseconds::rep (*look_for_hang)(const hang_watch&, bool) =
        diagnostic_hooks().look_for_hang.load();
    if (look_for_hang == nullptr) {
      s.cv_.wait(lock);
      ran_out = false;
      return;
    }
    const std::chrono::nanoseconds until_next_look(look_for_hang(watch, ran_out));
    ran_out = s.cv_.wait_for(lock, until_next_look) == std::cv_status::timeout && s.woken_ == 0;
  }

  // await_element() with fibers, the mutex not taken: the calling fiber (or
  // the test bench) waits until a write reaches this stream, as many times
  // as it takes to find an element (another fiber may take it first).
  __attribute__((noinline)) void await_write_on_fibers() {
    Stream& s = self();
    const bool traced = tracing();
    if (traced) {
      trace_thread_entered(&s.info_, trace_thread_state::asleep);
    }
    std::int64_t since_ns = 0;
    std::int64_t until_ns = 0;
    do {
      until_ns = fiber_scheduler().await_write(&s, Stream::poll_ops(), since_ns);
    } while (s._internal_cosim_empty());
    if (traced) {
      trace_thread_entered(nullptr, trace_thread_state::running);
    }
    note_slept(until_ns - since_ns, true);
  }

  // wait_for_room() with fibers, the mutex not taken: the calling fiber (or
  // the test bench) waits until a read of this stream makes room, counted as
  // a sleeping writer.
  __attribute__((noinline)) bool await_room_on_fibers() {
    Stream& s = self();
    write_refusal& refusal = current_write_refusal();
    if (refusal.stream == &s) {
      refusal.refused = true;
      return false;
    }
    stream_depth& depth = s.info_.depth();
    std::int64_t since_ns = 0;
    std::int64_t until_ns = 0;
    do {
      ++depth.writers_asleep;
      until_ns = fiber_scheduler().await_write(&s, Stream::room_ops(), since_ns);
      --depth.writers_asleep;
      if (depth.writers_woken > 0) {
        --depth.writers_woken;
        note_wakeup_taken();
      }
    } while (s.info_.full());
    note_slept(until_ns - since_ns, false);
    return true;
  }

  // A wait that ended after `ns` nanoseconds asleep: the caller's component
  // counts the time, and so does the stream's statistics for a reader's wait.
  void note_slept(std::int64_t ns, bool reader) {
    if (reader) {
      self().info_.note_slept(static_cast<std::uint64_t>(ns));
    }
    note_reader_slept(static_cast<std::uint64_t>(ns));
  }

  // A reader's wait for an element that began at `since` ended: the stream's
  // statistics and the reader's component count the time asleep.
  void note_reader_slept_since(std::chrono::steady_clock::time_point since) {
    const std::chrono::nanoseconds slept = std::chrono::steady_clock::now() - since;
    note_slept(slept.count(), true);
  }
};

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_STREAM_WAITS_H
