// Stopping the components that may still use a stream being destroyed.
//
// A stream is often a local of the test bench's `main` (or a member of one),
// destroyed when `main` returns while always-running components still call
// their functions. The rule: every component that has read or written the
// stream (see stream_endpoints.h) and has not ended is stopped for good
// before the stream's memory goes away. A stopped component never returns to its own code again:
// its worker thread halts (parks for ever, holding no lock) at its next safe
// point, which is
// - the end of a call (the always-run loop),
// - waking from, or polling in, a blocking read of any stream,
// - a tryRead that found a stream empty,
// - waking from a park (see idle_worker.h).
// The destroying thread marks the components, wakes the ones parked, wakes
// every reader asleep on the stream, and then waits, with the stream's mutex
// released, until each marked component has halted or sleeps in a blocking
// read of another stream (it halts when it wakes: it clears `asleep` before
// it looks at its mark, and the destroyer sets the mark before it looks at
// `asleep`, both sequentially consistent). A component inside a long call
// is waited for until the call ends.
//
// A halted component counts as quiet for run-all and for the hang watch; the
// process ends as usual (see process_exit.h: the exit handler ends it at once
// while invocations are outstanding).
#ifndef QRN_HLS_INTERNAL_COMPONENT_STOP_H
#define QRN_HLS_INTERNAL_COMPONENT_STOP_H

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "HLS/internal/activity.h"
#include "HLS/internal/parking.h"
#include "HLS/internal/process_exit.h"
#include "HLS/internal/scheduler.h"
#include "HLS/internal/stream_endpoints.h"

namespace qrn {
namespace internal {

// Parks the calling thread for good as a halted component; one that halts
// in a blocking read of `waiting_on` is shown waiting on it. The caller holds
// no lock and touches nothing afterwards.
[[noreturn]] inline void halt_this_thread(const stream_info* waiting_on = nullptr) {
  if (always_run_record* record = current_always_run_record()) {
    if (waiting_on != nullptr) {
      record->waiting_on.store(waiting_on, std::memory_order_relaxed);
    }
    record->halted.store(true, std::memory_order_release);
    if (fiber_scheduling()) {
      fiber_scheduler().halt();  // suspends this component's fiber for good
    }
  }
  park_forever();
}

// True when the component on the calling thread has been stopped.
inline bool stop_requested_here() {
  const always_run_record* record = current_always_run_record();
  return record != nullptr && record->stop_requested.load(std::memory_order_seq_cst);
}

// A safe point: halts the calling thread if its component has been stopped.
// The caller holds no lock.
inline void halt_if_stopped() {
  if (stop_requested_here()) {
    halt_this_thread();
  }
}

// The components a stream's destructor stops, and which of them waited on it.
struct stopped_users {
  std::vector<always_run_record*> stopped;
  std::vector<always_run_record*> waiting;  // waited in a read of it, or last found it empty
  bool other_thread_waiting = false;        // a thread that runs no component waited on it
  std::size_t lost = 0;                     // elements it still held, lost with it
};

// Marks every component in `users` but the calling thread's as stopped and
// wakes the parked ones. Requires the stream's mutex.
inline stopped_users stop_stream_users(const stream_users& users) {
  stopped_users result;
  const always_run_record* self = current_always_run_record();
  const auto stop = [&](always_run_record* record) {
    // A task that has ended touches no stream again: nothing to stop.
    if (record == nullptr || record == self || record->ended.load(std::memory_order_acquire)) {
      return;
    }
    record->stop_requested.store(true, std::memory_order_seq_cst);
    if (record->parker != nullptr) {
      record->parker->wake();
    }
    result.stopped.push_back(record);
  };
  if (users.reader_seen) {
    stop(users.reader);
  }
  for (always_run_record* reader : users.extra_readers) {
    stop(reader);
  }
  if (users.writer_seen) {
    stop(users.writer);
  }
  for (always_run_record* writer : users.extra_writers) {
    stop(writer);
  }
  return result;
}

// True when `record` can no longer enter the stream of `info`: it has halted
// or ended, or it sleeps on another stream and will halt when it wakes.
inline bool out_of_stream(const always_run_record& record, const stream_info* info) {
  return record.halted.load(std::memory_order_acquire) ||
         record.ended.load(std::memory_order_acquire) ||
         (record.asleep.load(std::memory_order_seq_cst) &&
          record.waiting_on.load(std::memory_order_relaxed) != info);
}

// Called by a stream's destructor before it changes anything. A component
// asleep in a blocking read or write of another stream may have looked up an
// operation of this one, which it has not used yet (`out.write(in.read())`
// looks up `write` first, then sleeps in `read`); acquiring the sleep each
// component announced orders such a look-up before the destruction.
inline void order_after_sleeping_components() {
  for (const always_run_record* record = activity().always_run_head.load(std::memory_order_acquire);
       record != nullptr; record = record->next) {
    (void)record->asleep.load(std::memory_order_acquire);
  }
}

// Between two looks of a destroyer waiting for components to halt.
inline void pause_for_halting(unsigned int look) {
  if (look < 64) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
}

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_COMPONENT_STOP_H
