// The handle of one run of a task (`qrn::launch_task`), by which the test
// bench waits for the task to end.
//
// While the bench waits, it counts as waiting for the hang diagnosis, like a
// blocking read: tasks that can never end because they wait on each other
// get the hang report (and, with QRN_ON_HANG=exit, status 1) instead of a
// silent wait. With fibers the wait runs the fibers until the task has ended,
// and ends the process with the hang report when none can run before it has.
#ifndef QRN_HLS_INTERNAL_TASK_HANDLE_H
#define QRN_HLS_INTERNAL_TASK_HANDLE_H

#include <algorithm>
#include <chrono>
#include <thread>

#include "HLS/internal/activity.h"
#include "HLS/internal/scheduler.h"

namespace qrn {

class task_handle {
 public:
  explicit task_handle(const internal::always_run_record& record) : record_(&record) {}

  // True once the task's function has returned. Thread-safe.
  bool ended() const { return record_->ended.load(std::memory_order_acquire); }

  // Returns once the task's function has returned. Meant for the test
  // bench's main thread; another thread (or a component) just waits.
  void wait() const {
    if (ended()) {
      return;
    }
    if (internal::fiber_scheduling()) {
      internal::fiber_scheduler().await_task(*record_);
      return;
    }
    const bool bench = internal::on_main_thread();
    if (bench) {
      internal::note_bench_waits_for_task(record_);
    }
    // A task ends once; a wait of a millisecond at most after it is cheap
    // beside a task's run, and needs nothing from the task's thread.
    std::chrono::microseconds pause(10);
    while (!ended()) {
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, std::chrono::microseconds(1000));
    }
    if (bench) {
      internal::note_bench_waits_for_task(nullptr);
    }
  }

 private:
  const internal::always_run_record* record_;
};

}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_TASK_HANDLE_H
