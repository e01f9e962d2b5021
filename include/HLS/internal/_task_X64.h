// Task worker for the x86-64 emulation: one worker thread per task function,
// fed by a FIFO of queued invocations.
//
// Locks: `_q_fnc_m` guards `_q_fnc`, `_q_monitor` and `_running`; `_q_ret_m`
// guards `_q_ret`. No thread ever holds both, and none is held while an
// invocation runs, so an invocation may launch work on any task, its own
// included. Every notification is sent after the guarded change and after the
// mutex has been released.
#ifndef QRN_HLS_INTERNAL_TASK_X64_H
#define QRN_HLS_INTERNAL_TASK_X64_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "HLS/internal/early_launches.h"
#include "HLS/internal/process_exit.h"
#include "HLS/internal/scheduler.h"

namespace qrn {
namespace internal {

// Runs one queued callable and turns its completion into a result.
template <typename T>
struct execute;

template <>
struct execute<void> {
  bool operator()(std::function<void()>& fnc) const {
    fnc();
    return true;
  }
};

// Worker of the task function `f` of type `X`. Every invocation, whatever
// `X` returns, records one `true` in `_q_ret` when it returns.
template <typename X, X& f, bool detach>
class _task {
 public:
  using R = bool;

  // Starts the worker thread, then queues, in launch order, the invocations
  // launched before this object was constructed (see early_launches.h).
  _task() {
    {
      std::lock_guard<std::mutex> lock(_q_fnc_m);
      _q_early.close([this](std::function<void()>* fnc) { _q_fnc.push_back(fnc); });
    }
    _q_fnc_cv.notify_one();
  }

  // Ends monitoring. An idle worker thread then finishes, and is waited for,
  // before the members are destroyed. A worker thread that still runs an
  // invocation is detached when `detach` is true (the process then ends
  // before static destructors run; see process_exit.h) and waited for
  // otherwise.
  ~_task() {
    bool running;
    {
      std::lock_guard<std::mutex> lock(_q_fnc_m);
      _q_monitor = false;
      running = _running || !_q_fnc.empty();
    }
    _q_fnc_cv.notify_one();
    if (detach && running) {
      _thread.detach();
    } else {
      _thread.join();
    }
  }

  // Queues one invocation of `f` with `args` bound and wakes the worker
  // thread; never waits for the invocation. Before this object is
  // constructed, only `_q_early` is touched. `capacity` is not consulted: the
  // queue is unbounded. Thread-safe. With fibers (see scheduler.h) the
  // invocation runs on a fiber instead and the worker thread stays idle.
  template <int capacity, typename... Args>
  void launch(Args&&... args) {
    std::unique_ptr<std::function<void()>> fnc(
        new std::function<void()>(std::bind(f, std::forward<Args>(args)...)));
    note_invocation_queued();
    if (fiber_scheduling()) {
      std::function<void()>* call = fnc.get();
      try {
        fiber_scheduler().start(
            std::unique_ptr<std::function<void()>>(new std::function<void()>([call] {
              std::unique_ptr<std::function<void()>> owned(call);
              (*owned)();
              note_invocation_finished();
            })));
      } catch (...) {
        note_invocation_finished();
        throw;
      }
      fnc.release();
      return;
    }
    bool held_early = false;
    try {
      held_early = _q_early.hold(fnc.get());
      if (!held_early) {
        std::lock_guard<std::mutex> lock(_q_fnc_m);
        _q_fnc.push_back(fnc.get());
      }
    } catch (...) {
      note_invocation_finished();
      throw;
    }
    fnc.release();
    if (!held_early) {
      _q_fnc_cv.notify_one();
    }
  }

 private:
  _task(const _task&);
  _task& operator=(const _task&);
  _task(const _task&&);
  _task& operator=(const _task&&);

  // The worker loop: runs queued invocations one at a time, in queue order,
  // until monitoring has ended and the queue is empty.
  void monitor() {
    R ret;
    std::unique_lock<std::mutex> _q_fnc_lock(_q_fnc_m, std::defer_lock);
    qrn::internal::execute<void> execute;
    _q_fnc_lock.lock();
    for (;;) {
      _q_fnc_cv.wait(_q_fnc_lock, [this] { return !_q_monitor || !_q_fnc.empty(); });
      if (_q_fnc.empty()) {
        return;
      }
      std::function<void()>* fnc = _q_fnc.front();
      _q_fnc.pop_front();
      _running = true;
      _q_fnc_lock.unlock();

      ret = execute(*fnc);
      delete fnc;
      {
        std::lock_guard<std::mutex> q_ret_lock(_q_ret_m);
        _q_ret.push_back(ret);
      }
      _q_ret_cv.notify_one();

      _q_fnc_lock.lock();
      _running = false;
      note_invocation_finished();
    }
  }

  std::deque<std::function<void()>*> _q_fnc;  // guarded by _q_fnc_m; owns the callables
  std::mutex _q_fnc_m;
  std::condition_variable _q_fnc_cv;  // waited on by the worker thread only
  bool _q_monitor = true;             // guarded by _q_fnc_m
  std::deque<R> _q_ret;               // guarded by _q_ret_m
  std::mutex _q_ret_m;
  std::condition_variable _q_ret_cv;
  std::thread _thread{&_task::monitor, this};
  // Guarded by _q_fnc_m: an invocation has been taken and not finished. Set
  // after the thread starts, which is safe: the worker thread writes it only
  // after a launch, and no launch happens before construction completes.
  bool _running = false;
  static early_launches _q_early;  // constant-initialised; closed by the constructor
};

template <typename X, X& f, bool detach>
early_launches _task<X, f, detach>::_q_early;

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_TASK_X64_H
