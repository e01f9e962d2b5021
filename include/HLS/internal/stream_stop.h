// The end of one stream's users: when a stream is destroyed, the components
// that used it are stopped (see component_stop.h) and every thread waiting in
// it leaves before its storage goes. A component that was still waiting on
// it while it held elements, or a thread of no component that was waiting in
// it, is reported (diagnostic_hooks().stream_destroyed_while_waited).
//
// Destroying thread only. `Stream` is the stream class (see
// HLS/hls_internal.h), which derives from this mixin and befriends it; the
// mixin holds no state.
#ifndef QRN_HLS_INTERNAL_STREAM_STOP_H
#define QRN_HLS_INTERNAL_STREAM_STOP_H

#include <atomic>
#include <mutex>
#include <vector>

#include "HLS/internal/component_stop.h"
#include "HLS/internal/depth.h"
#include "HLS/internal/diagnostic_hooks.h"
#include "HLS/internal/process_exit.h"
#include "HLS/internal/scheduler.h"
#include "HLS/internal/spin.h"
#include "HLS/internal/stream_registry.h"

namespace qrn {
namespace internal {

// Whether no component of `records` is in the stream `info` any more.
inline bool all_out_of_stream(const std::vector<always_run_record*>& records,
                              const stream_info& info) {
  for (const always_run_record* record : records) {
    if (!out_of_stream(*record, &info)) {
      return false;
    }
  }
  return true;
}

template <typename Stream>
class stream_stop {
 protected:
  // Stops the components that used this stream and waits until none of them
  // can enter it again, and every thread waiting in it has left. Called
  // first by the destructor of the most derived stream class, before its
  // dispatch table pointer changes, so that a component still calling a
  // virtual operation reads an unchanged one; later calls do nothing.
  void stop_users() {
    Stream& s = self();
    if (!s.users_stopped_) {
      s.users_stopped_ = true;
      if (invocations_outstanding()) {
        stop_and_await_users();
      }
    }
  }

 private:
  Stream& self() { return static_cast<Stream&>(*this); }

  __attribute__((noinline)) void stop_and_await_users() {
    Stream& s = self();
    order_after_sleeping_components();
    std::unique_lock<std::mutex> lock = s.lock_m();
    stopped_users users = stop_stream_users(s.info_.endpoints());
    if (users.stopped.empty() && s.waiters_ == 0) {
      return;
    }
    const bool waited_on = s.waiters_ > 0;
    if (fiber_scheduling()) {  // a stopped component's fiber is never resumed (see scheduler.h)
      for (always_run_record* record : users.stopped) {
        record->halted.store(true, std::memory_order_release);
      }
    } else {
      s.doomed_ = true;
      s.cv_.notify_all();
      s.info_.depth().room_signal.notify_all();
      for (unsigned int look = 0; s.waiters_ > 0 || !all_out_of_stream(users.stopped, s.info_);
           ++look) {
        lock.unlock();
        pause_for_halting(look);
        lock_spinning(lock);
      }
      lock.unlock();
    }
    for (always_run_record* record : users.stopped) {
      if (record->waiting_on.load() == &s.info_ || record->last_empty.load() == &s.info_) {
        users.waiting.push_back(record);
      }
    }
    users.other_thread_waiting = waited_on && users.waiting.empty();
    users.lost = s.ring_.size();  // every user is out of the stream by now
    // Components that waited on a stream they will never need again (the
    // normal end of a bench with local streams) are stopped quietly.
    if (users.other_thread_waiting || (!users.waiting.empty() && users.lost != 0)) {
      if (void (*report)(stream_info&, const stopped_users&) =
              diagnostic_hooks().stream_destroyed_while_waited.load()) {
        report(s.info_, users);
      }
    }
  }
};

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_STREAM_STOP_H
