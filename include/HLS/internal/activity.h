// Activity bookkeeping that lets the emulation runtime tell when the
// always-running components have gone quiet.
//
// - Every stream operation that moves an element adds one to a counter owned
//   by the calling thread (`moved_elements()`); no shared memory is touched.
// - Each always-running component owns an `always_run_record`, written only by
//   its worker thread: the number of completed component calls, the moved
//   count as of the last publication, and whether the worker sleeps in a
//   blocking read.
// - Each record points at the component's parker (see parking.h), through
//   which the runtime sees that the worker is parked between two calls and
//   wakes it.
// - A blocking read that is about to be woken is counted in
//   `activity_state::pending_wakeups` from the write that wakes it until the
//   woken reader holds the stream's mutex again, so "asleep" is never
//   mistaken for "quiet" while data is on its way. A writer asleep on a full
//   stream (see depth.h) counts as asleep the same way.
//
// The state below is reached through inline functions whose statics have
// vague linkage, so a program and a shared emulation runtime that both
// include this header share one copy.
#ifndef QRN_HLS_INTERNAL_ACTIVITY_H
#define QRN_HLS_INTERNAL_ACTIVITY_H

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "HLS/internal/timed_run.h"

namespace qrn {
namespace internal {

class idle_parker;
class stream_info;

// Published activity of one always-running component. Written by its worker
// thread only; read by the emulation runtime.
struct always_run_record {
  // Completed component calls.
  std::atomic<std::uint64_t> calls{0};
  // The worker's moved count, published at the end of each call and before sleeping.
  std::atomic<std::uint64_t> moved{0};
  // Sleeping in a blocking read of an empty stream.
  std::atomic<bool> asleep{false};
  // List link; immutable once published.
  always_run_record* next = nullptr;
  // component_signature() of the component and the component; set before publication.
  const char* signature = nullptr;
  void (*function)() = nullptr;
  // For the diagnostics (see HLS/diagnostics.h): completed calls that moved an
  // element, time slept in blocking reads, the stream it sleeps on now, the
  // stream its last empty tryRead or tryPeek found.
  std::atomic<std::uint64_t> moving_calls{0};
  std::atomic<std::uint64_t> asleep_ns{0};
  std::atomic<const stream_info*> waiting_on{nullptr};
  std::atomic<const stream_info*> last_empty{nullptr};
  std::atomic<std::int64_t> asleep_since_ns{0};  // steady clock, while waiting_on is set
  // The component's parker (see parking.h); set before publication.
  idle_parker* parker = nullptr;
  // A component launched with arguments or a name (see component_instances.h):
  // its display name, set before publication; null for every other component.
  const std::string* label = nullptr;
  // A task runs its function once: `task` is set before publication, `ended`
  // once the function has returned (after `moved` and `calls` are final).
  bool task = false;
  std::atomic<bool> ended{false};
  // The full stream it sleeps on until a read makes room (see depth.h); while
  // set, `asleep` is true and asleep_since_ns tells since when.
  std::atomic<const stream_info*> waiting_to_write{nullptr};
  // Set by the destructor of a stream the component used; the worker then
  // halts at its next safe point and sets `halted` (see component_stop.h).
  std::atomic<bool> stop_requested{false};
  std::atomic<bool> halted{false};
  // Its clock in a timed run (see timed_run.h); its pace is set before
  // publication, the rest belongs to its fiber.
  component_clock clock;
  // A component launched with arguments: the streams among them (each as
  // its stream_abstract_base's address); set before publication, null for
  // every other component. The hang report takes a component given a stream
  // as its writer (or reader) while no other one has been seen.
  const std::vector<const void*>* stream_arguments = nullptr;
};

struct activity_state {
  std::atomic<always_run_record*> always_run_head{nullptr};  // push-only list, records live forever
  std::atomic<long> pending_wakeups{0};  // signalled sleepers not yet running again
  // For the diagnostics: the stream the test bench's main thread sleeps on
  // now, if any, and since when (steady clock, ns); written by that thread.
  std::atomic<const stream_info*> bench_waiting_on{nullptr};
  std::atomic<std::int64_t> bench_asleep_since_ns{0};
  // The full stream the test bench's main thread waits to write to, if any
  // (bench_asleep_since_ns tells since when); written by that thread.
  std::atomic<const stream_info*> bench_waiting_to_write{nullptr};
  // The test bench's main thread is inside run-all, or waits for the task
  // with this record to end (bench_asleep_since_ns tells since when); written
  // by that thread. While the bench runs its own code instead (it is in none
  // of these waits nor in a blocking stream operation) the run is not stuck.
  std::atomic<bool> bench_in_run_all{false};
  std::atomic<const always_run_record*> bench_waiting_for_task{nullptr};
};

inline activity_state& activity() {
  static activity_state state;  // constant-initialised: no guard, no destructor
  return state;
}

// True while the test bench's main thread waits inside the library: in a
// blocking stream operation, run-all or a wait for a task.
inline bool bench_waits() {
  const activity_state& state = activity();
  return state.bench_waiting_on.load() != nullptr ||
         state.bench_waiting_to_write.load() != nullptr || state.bench_in_run_all.load() ||
         state.bench_waiting_for_task.load() != nullptr;
}

// Elements moved (read or written) by the calling thread since it started.
inline std::uint64_t& moved_elements() {
  static thread_local std::uint64_t count = 0;
  return count;
}

// The record of the always-running component that the calling thread runs,
// or null on every other thread.
inline always_run_record*& current_always_run_record() {
  static thread_local always_run_record* record = nullptr;
  return record;
}

// Makes `record` visible to the emulation runtime. Called once per record.
inline void publish_always_run_record(always_run_record& record) {
  std::atomic<always_run_record*>& head = activity().always_run_head;
  record.next = head.load(std::memory_order_relaxed);
  while (!head.compare_exchange_weak(record.next, &record, std::memory_order_release,
                                     std::memory_order_relaxed)) {
  }
}

// True on the process's main thread (the test bench's).
inline bool on_main_thread() {
  static thread_local const bool main = ::syscall(SYS_gettid) == ::getpid();
  return main;
}

// Called on the test bench's main thread as it starts waiting for the task
// with `task` to end, and with null once it has.
inline void note_bench_waits_for_task(const always_run_record* task) {
  if (task != nullptr) {
    activity().bench_asleep_since_ns.store(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                               std::chrono::steady_clock::now().time_since_epoch())
                                               .count(),
                                           std::memory_order_relaxed);
  }
  activity().bench_waiting_for_task.store(task);
}

// What a sleeping thread waits for: an element of an empty stream (a
// blocking read) or room in a full one (a write, see depth.h).
enum class waiting_for { element, room };

// Where the record of a component, or the test bench's state, keeps the
// stream it sleeps on for `what`.
inline std::atomic<const stream_info*>& sleeping_on(always_run_record& record, waiting_for what) {
  return what == waiting_for::element ? record.waiting_on : record.waiting_to_write;
}
inline std::atomic<const stream_info*>& bench_sleeping_on(waiting_for what) {
  return what == waiting_for::element ? activity().bench_waiting_on
                                      : activity().bench_waiting_to_write;
}

// Called, with the stream's mutex held, just before the calling thread
// sleeps until `stream` has `what`; it has been waiting since `since_ns`
// (steady clock). `asleep_order` orders the store of the record's `asleep`:
// a fiber, which no other thread wakes, needs no more than release.
inline void note_thread_sleeps(const stream_info& stream, std::int64_t since_ns, waiting_for what,
                               std::memory_order asleep_order = std::memory_order_seq_cst) {
  if (always_run_record* record = current_always_run_record()) {
    record->asleep_since_ns.store(since_ns, std::memory_order_relaxed);
    sleeping_on(*record, what).store(&stream, std::memory_order_relaxed);
    record->moved.store(moved_elements(), std::memory_order_relaxed);
    record->asleep.store(true, asleep_order);
  } else if (on_main_thread()) {
    activity().bench_asleep_since_ns.store(since_ns, std::memory_order_relaxed);
    bench_sleeping_on(what).store(&stream, std::memory_order_relaxed);
  }
}

// A sleeper consumed a counted wake-up (see note_wakeup_sent).
inline void note_wakeup_taken() {
  activity().pending_wakeups.fetch_sub(1, std::memory_order_seq_cst);
}

// Called, with the stream's mutex held again, when that sleep ended;
// `was_signalled` tells whether it consumes a counted wake-up. `asleep_order`
// as for note_thread_sleeps.
inline void note_thread_woke(bool was_signalled, waiting_for what,
                             std::memory_order asleep_order = std::memory_order_seq_cst) {
  if (always_run_record* record = current_always_run_record()) {
    record->asleep.store(false, asleep_order);
    sleeping_on(*record, what).store(nullptr, std::memory_order_relaxed);
  } else if (on_main_thread()) {
    bench_sleeping_on(what).store(nullptr, std::memory_order_relaxed);
  }
  if (was_signalled) {
    note_wakeup_taken();
  }
}

// Called by a blocking read that slept `ns` nanoseconds before it got its
// element.
inline void note_reader_slept(std::uint64_t ns) {
  if (always_run_record* record = current_always_run_record()) {
    record->asleep_ns.store(record->asleep_ns.load(std::memory_order_relaxed) + ns,
                            std::memory_order_relaxed);
  }
}

// Called by a tryRead or tryPeek that found `stream` empty.
inline void note_empty_poll(const stream_info& stream) {
  if (always_run_record* record = current_always_run_record()) {
    record->last_empty.store(&stream, std::memory_order_relaxed);
  }
}

// Called by a write, with the stream's mutex held, when it will wake a sleeper.
inline void note_wakeup_sent() {
  activity().pending_wakeups.fetch_add(1, std::memory_order_seq_cst);
}

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_ACTIVITY_H
