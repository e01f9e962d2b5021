// Hardware depths: a stream may hold at most a fixed number of elements, and
// a writer that finds it full waits until a read makes room.
//
// - The depth mode (QRN_DEPTH) and each stream's depth are set by the
//   emulation runtime while it is initialised and when a stream is
//   constructed or named afterwards (`configure_stream_depth`). Without the
//   runtime, or in the default mode, every stream is unbounded: its capacity
//   is SIZE_MAX and a write pays one compare with it.
// - A stream's `stream_depth` is guarded by the stream's mutex. A writer that
//   finds the stream full polls for a few microseconds, then sleeps on the
//   depth's `room_signal`, a condition variable of writers only, so that a
//   wake-up meant for a writer can never land on a reader.
// - Wake-ups are counted as a blocking read's are: a read that makes room
//   wakes one sleeping writer that no earlier read has woken (one element
//   fits), and pays one test when no writer sleeps; a larger depth wakes
//   them all. No wake-up is lost: whenever the stream has room while writers
//   sleep, at least one of them has been signalled and looks again, and a
//   signalled writer that halts instead passes its wake-up on.
// - A sleeping writer is seen by the runtime like a sleeping reader: it is
//   quiet for run-all and the hang watch, a pending wake-up is counted until
//   it runs again, and it looks for a hang every look period.
// - A tryWrite that finds the stream full changes nothing and returns false
//   (`write_unless_full`); it still writes through the dispatch table.
#ifndef QRN_HLS_INTERNAL_DEPTH_H
#define QRN_HLS_INTERNAL_DEPTH_H

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include "HLS/internal/activity.h"
#include "HLS/internal/diagnostic_hooks.h"
#include "HLS/internal/parking.h"
#include "HLS/internal/spin.h"

namespace qrn {
namespace internal {

class stream_info;

enum class depth_mode : int { unbounded = 0, declared = 1, grow = 2 };

// The capacity of a stream that has no depth.
constexpr std::size_t unbounded_capacity = SIZE_MAX;

// Depth of one stream; guarded by the stream's mutex.
struct stream_depth {
  std::size_t capacity = unbounded_capacity;  // most elements it holds in a bounded mode
  // From the interface's buffer<N> (N > 0), overridden by name or defaulted;
  // 0: none.
  std::uint64_t configured = 0;
  unsigned int writers_asleep = 0;      // writers sleeping until a read makes room
  unsigned int writers_woken = 0;       // of those, signalled and not yet awake
  std::condition_variable room_signal;  // where they sleep; no reader waits on it
  // With fibers (see scheduler.h): the fibers, or the test bench, waiting for
  // room; each is also counted in writers_asleep.
  poll_site* fiber_writers = nullptr;
  // The components parked after a write to it was refused (a tryWrite, or
  // full() answering true), in either scheduling mode; not counted in
  // writers_asleep. Woken by every read that makes room.
  poll_site* room_pollers = nullptr;

  bool full(std::size_t held) const { return held >= capacity; }
  // True when a fiber or the test bench waits for room, or a component is
  // parked after a refused write: a read must wake them. One test for both
  // lists.
  bool room_awaited() const {
    return (reinterpret_cast<std::uintptr_t>(fiber_writers) |
            reinterpret_cast<std::uintptr_t>(room_pollers)) != 0;
  }
};

struct depth_setting_table {
  std::atomic<int> mode{0};  // a depth_mode; set once, while the runtime is initialised
  // Sets the configured depth and the capacity of a stream from its declared
  // depth, QRN_DEPTH_OVERRIDE and QRN_DEPTH_DEFAULT. Locks the registry's
  // mutex, then (not nested) the stream's.
  std::atomic<void (*)(stream_info&)> configure{nullptr};
};

// Reached through an inline function whose static has vague linkage, so a
// program and a shared runtime share one copy.
inline depth_setting_table& depth_settings() {
  static depth_setting_table table;  // constant-initialised: no guard, no destructor
  return table;
}

inline bool depth_bounded() {
  return depth_settings().mode.load(std::memory_order_relaxed) !=
         static_cast<int>(depth_mode::unbounded);
}

// Called when a stream is constructed, named or given a declared depth.
inline void configure_stream_depth(stream_info& stream) {
  if (void (*configure)(stream_info&) = depth_settings().configure.load()) {
    configure(stream);
  }
}

// How long a writer polls a full stream before it sleeps.
constexpr std::chrono::microseconds write_spin_limit{5};

// The stream a tryWrite of the calling thread is writing to: a full stream
// refuses that write instead of waiting. `refused` tells the tryWrite.
struct write_refusal {
  const void* stream = nullptr;
  bool refused = false;
};

inline write_refusal& current_write_refusal() {
  static thread_local write_refusal refusal;
  return refusal;
}

// Runs `write` (a write through the dispatch table) so that, in a bounded
// mode, a full `stream` refuses it; true when it was written.
template <typename Write>
bool write_unless_full(const void* stream, Write write) {
  if (!depth_bounded()) {
    write();
    return true;
  }
  write_refusal& refusal = current_write_refusal();
  const write_refusal outer = refusal;
  refusal = {stream, false};
  try {
    write();
  } catch (...) {
    refusal = outer;
    throw;
  }
  const bool written = !refusal.refused;
  refusal = outer;
  return written;
}

// Requires the stream's mutex. Wakes every component parked after a refused
// write to the stream, and at most `most` of the writers asleep on it that
// no earlier call has woken. With fibers every waiting fiber looks again,
// and each counts as woken.
__attribute__((noinline)) inline void wake_writers(stream_depth& depth, unsigned int most) {
  if (depth.room_pollers != nullptr) {
    wake_parked_pollers(depth.room_pollers);
  }
  if (depth.fiber_writers != nullptr) {
    wake_parked_pollers(depth.fiber_writers);
    most = depth.writers_asleep;
  }
  unsigned int woken_now = 0;
  while (woken_now < most && depth.writers_woken < depth.writers_asleep) {
    ++depth.writers_woken;
    ++woken_now;
    note_wakeup_sent();
  }
  if (woken_now == 1) {
    depth.room_signal.notify_one();
  } else if (woken_now > 1) {
    depth.room_signal.notify_all();
  }
}

// Requires the stream's mutex; called after a read took one element.
inline void wake_a_writer(stream_depth& depth) { wake_writers(depth, 1); }

// Requires the stream's mutex; called after the stream's capacity changed.
inline void wake_all_writers(stream_depth& depth) { wake_writers(depth, UINT_MAX); }

// Requires `lock` to hold the stream's mutex and the stream to be full
// (`is_full()` reads the stream under it). Returns with the mutex held: true
// once there is room, false at once when a tryWrite of this stream is
// refused. Polls for up to write_spin_limit, then sleeps on the depth's
// `room_signal`, looking for a hang when the hang watch asks to. After each poll
// and each wake it calls `safe_point()` with the mutex held, which may halt
// the thread (a stream being destroyed, a stopped component; see
// component_stop.h).
template <typename IsFull, typename SafePoint>
bool await_room(std::unique_lock<std::mutex>& lock, stream_depth& depth, const stream_info& info,
                const void* stream, IsFull is_full, SafePoint safe_point) {
  write_refusal& refusal = current_write_refusal();
  if (refusal.stream == stream) {
    refusal.refused = true;
    return false;
  }
  const std::chrono::steady_clock::time_point give_up =
      std::chrono::steady_clock::now() + write_spin_limit;
  for (unsigned int poll = 1; std::chrono::steady_clock::now() < give_up; ++poll) {
    pause_between_polls(lock, poll);
    if (!is_full()) {
      return true;
    }
    safe_point();
  }
  const hang_watch watch{std::chrono::steady_clock::now(), &info};
  bool ran_out = false;  // the last sleep ended at its look time without a wake-up
  do {
    ++depth.writers_asleep;
    note_thread_sleeps(
        info,
        std::chrono::duration_cast<std::chrono::nanoseconds>(watch.asleep_since.time_since_epoch())
            .count(),
        waiting_for::room);
    std::chrono::nanoseconds::rep (*look_for_hang)(const hang_watch&, bool) =
        diagnostic_hooks().look_for_hang.load();
    if (look_for_hang == nullptr) {
      depth.room_signal.wait(lock);
      ran_out = false;
    } else {
      const std::chrono::nanoseconds until_next_look(look_for_hang(watch, ran_out));
      ran_out = depth.room_signal.wait_for(lock, until_next_look) == std::cv_status::timeout &&
                depth.writers_woken == 0;
    }
    --depth.writers_asleep;
    const bool signalled = depth.writers_woken > 0;
    if (signalled) {
      --depth.writers_woken;
    }
    note_thread_woke(signalled, waiting_for::room);
    safe_point();
  } while (is_full());
  // A component's asleep time counts its waits for room as well as for data.
  const std::chrono::nanoseconds slept = std::chrono::steady_clock::now() - watch.asleep_since;
  note_reader_slept(static_cast<std::uint64_t>(slept.count()));
  return true;
}

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_DEPTH_H
