// Which scheduler runs the components: worker threads (the default) or
// fibers on the test bench's thread (QRN_SCHEDULE=fibers).
//
// With threads, every always-running component and every task invocation
// runs on a worker thread, and streams lock, spin and sleep as described in
// HLS/hls_internal.h. With fibers, they run as stackful fibers on the
// process's main thread, which runs the test bench: the bench runs until it
// cannot go on (run-all, a blocking read of an empty stream, a non-blocking
// read or a peek that finds a stream empty), then the emulation runtime runs
// the fibers until the bench can go on or none can run. Fibers switch only at
// those points and between component calls, so a stream needs no lock; a
// stream used from any other thread in this mode is a fatal error.
//
// This header holds the mode and the few hooks that the streams and the
// task launcher call on their slow paths. The fiber scheduler itself lives
// in the emulation runtime (runtime/fiber_*.cpp), which a program must link
// to use this mode: without it, QRN_SCHEDULE=fibers gets one line on
// standard error and the threads mode.
//
// The mode is read once, on the first stream operation, launch or run-all,
// and never changes. With threads, each hook site costs one relaxed load of
// a constant-initialised word and a predictable branch.
#ifndef QRN_HLS_INTERNAL_SCHEDULER_H
#define QRN_HLS_INTERNAL_SCHEDULER_H

#include <strings.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "HLS/internal/activity.h"
#include "HLS/internal/parking.h"
#include "HLS/internal/settings.h"
#include "HLS/internal/short_path_gate.h"
#include "HLS/internal/stream_registry.h"
#include "HLS/internal/timed_run.h"
#include "HLS/internal/trace.h"

namespace qrn {
namespace internal {

// The fiber scheduler's entry points, provided by the emulation runtime. All
// are called on the main thread only.
struct fiber_scheduler_ops {
  // Runs `invocation` as a fiber of its own, after the fibers already
  // waiting to run; deletes it once it has returned. Throws (taking nothing)
  // when the fiber cannot be made.
  void (*start)(std::unique_ptr<std::function<void()>> invocation);
  // The calling context found `stream` empty (or, with `ops` that enlist for
  // room, full) and cannot go on: returns once a write (a read) has reached
  // `stream`. Ends the process with the hang report when the test bench
  // waits and no fiber can run. The activity records (see activity.h) show
  // the context asleep from `since_ns` (steady clock) while it waits; a
  // `since_ns` of 0 becomes the time the wait begins. Returns the time it
  // ended (`since_ns` when it did not sleep): the scheduler reads the clock
  // once per switch between contexts, not once per wait.
  std::int64_t (*await_write)(void* stream, const poll_site_ops& ops, std::int64_t& since_ns);
  // The test bench found `stream` empty on a read that does not wait (or,
  // with `ops` that enlist for room, full on a write that does not wait):
  // runs fibers until a write (a read) reaches `stream` or none can run.
  // True when it ran any (the bench looks again); false on a fiber, which
  // does not wait.
  bool (*poll_empty)(void* stream, const poll_site_ops& ops);
  // A component's call, or a loop of polls inside one, moved nothing:
  // suspends its fiber until a stream in `log` (the streams its polls found
  // empty, or full) changes, or, with an empty log, until the test bench next
  // waits for the components.
  void (*idle_call)(poll_log& log);
  // A component has made the number of moving calls that next_quantum()
  // gave: lets the other ready fibers run before it goes on.
  void (*switch_out)();
  // Moving calls a component makes before it is switched out.
  std::uint32_t (*next_quantum)();
  // The run-all call: runs fibers until none can run.
  void (*run_all)();
  // The calling component's fiber is stopped: it is never resumed.
  void (*halt)();
  // The test bench waits for the task with `record` to end: runs fibers
  // until it has. Ends the process with the hang report when none can run
  // while it has not.
  void (*await_task)(const always_run_record& record);
  // The running fiber runs the component with `record` from now on.
  void (*entered_component)(const always_run_record& record);
};

}  // namespace internal
}  // namespace qrn

// Defined by the emulation runtime (runtime/fiber_scheduler.cpp); null in a
// program that does not link it.
extern "C" __attribute__((weak)) const qrn::internal::fiber_scheduler_ops* qrn_fiber_scheduler();

namespace qrn {
namespace internal {

enum class schedule_mode : int { threads = 0, unread = 1, fibers = 2 };

inline std::atomic<int>& schedule_mode_word() {
  static std::atomic<int> word{static_cast<int>(schedule_mode::unread)};  // constant-initialised
  return word;
}

// QRN_TIME: cycles for a timed run, off (the default) for none; anything
// else, or cycles in a program without the runtime, gets one line on
// standard error and no timing.
inline bool read_time_setting() {
  const setting time = setting_value("QRN_TIME");
  if (!time || ::strcasecmp(time.value, "off") == 0) {
    return false;
  }
  if (::strcasecmp(time.value, "cycles") != 0) {
    std::fprintf(stderr,
                 "qrn: ignoring QRN_TIME=%s%s: expected cycles or off; the run is not timed\n",
                 time.value, time.note());
    note_bad_setting();
    return false;
  }
  if (&qrn_timed_run == nullptr || &qrn_fiber_scheduler == nullptr) {
    std::fprintf(stderr,
                 "qrn: QRN_TIME=cycles%s needs the emulation runtime's fiber scheduler and timed "
                 "run, which are not linked (link qrn::runtime or `pkg-config --libs qrn`; by "
                 "hand, -Wl,-u,qrn_fiber_scheduler -Wl,-u,qrn_timed_run -lqrn_runtime); the run "
                 "is not timed\n",
                 time.note());
    note_bad_setting();
    return false;
  }
  return true;
}

// QRN_SCHEDULE: threads (default) or fibers, in any case; anything else, or
// fibers in a program without the runtime, gets one line on standard error
// and threads. A timed run (QRN_TIME=cycles) runs on fibers, whatever
// QRN_SCHEDULE says (one line on standard error when it says threads).
inline schedule_mode read_schedule_mode() {
  const setting schedule = setting_value("QRN_SCHEDULE");
  if (read_time_setting()) {
    if (schedule && ::strcasecmp(schedule.value, "fibers") != 0) {
      std::fprintf(stderr, "qrn: ignoring QRN_SCHEDULE=%s%s: QRN_TIME=cycles runs on fibers\n",
                   schedule.value, schedule.note());
      note_bad_setting();
    }
    timed_run_word().store(qrn_timed_run(), std::memory_order_relaxed);
    return schedule_mode::fibers;
  }
  if (!schedule || ::strcasecmp(schedule.value, "threads") == 0) {
    return schedule_mode::threads;
  }
  if (::strcasecmp(schedule.value, "fibers") != 0) {
    std::fprintf(stderr,
                 "qrn: ignoring QRN_SCHEDULE=%s%s: expected threads or fibers; using threads\n",
                 schedule.value, schedule.note());
    note_bad_setting();
    return schedule_mode::threads;
  }
  if (&qrn_fiber_scheduler == nullptr) {
    std::fprintf(stderr,
                 "qrn: QRN_SCHEDULE=fibers%s needs the emulation runtime's fiber scheduler, which "
                 "is not linked (link qrn::runtime or `pkg-config --libs qrn`; by hand, "
                 "-Wl,-u,qrn_fiber_scheduler -lqrn_runtime); using threads\n",
                 schedule.note());
    note_bad_setting();
    return schedule_mode::threads;
  }
  return schedule_mode::fibers;
}

// Reads the mode once per process (thread-safe) and publishes it.
__attribute__((noinline)) inline bool resolve_fiber_scheduling() {
  static const schedule_mode mode = read_schedule_mode();
  if (mode == schedule_mode::fibers && !timed_run()) {
    open_short_path(closed_unless_untimed_fibers);
  }
  schedule_mode_word().store(static_cast<int>(mode), std::memory_order_relaxed);
  return mode == schedule_mode::fibers;
}

// True when fibers run the components. The first call reads the mode.
// Always inlined: every stream operation asks.
__attribute__((always_inline)) inline bool fiber_scheduling() {
  const int word = schedule_mode_word().load(std::memory_order_relaxed);
  if (__builtin_expect(word == static_cast<int>(schedule_mode::threads), 1)) {
    return false;
  }
  if (word == static_cast<int>(schedule_mode::fibers)) {
    return true;
  }
  return resolve_fiber_scheduling();
}

inline const fiber_scheduler_ops& fiber_scheduler() { return *qrn_fiber_scheduler(); }

// Makes the component with `record` the calling thread's (or fiber's), as
// its run starts.
inline void enter_component(always_run_record& record) {
  current_always_run_record() = &record;
  if (fiber_scheduling()) {
    fiber_scheduler().entered_component(record);
  }
}

// Fatal: a stream used from a thread other than the main one with fibers.
[[noreturn]] __attribute__((noinline)) inline void fail_off_thread_use(const stream_info& stream) {
  std::string name;
  {
    std::lock_guard<std::mutex> lock(stream_registry().mutex);
    if (void (*find_name)(stream_info&) = diagnostic_hooks().find_stream_name.load()) {
      find_name(const_cast<stream_info&>(stream));
    }
    name = stream.display_name();
  }
  std::fprintf(stderr,
               "qrn: stream %s used from a thread other than the test bench's "
               "(QRN_SCHEDULE=fibers runs every component on the main thread; use threads)\n",
               name.c_str());
  std::fflush(stderr);
  std::abort();
}

// Paces a component on a fiber: after a call (or a loop of polls inside a
// call) that moved nothing its fiber waits for a write to a stream it found
// empty (or a read from one it found full), and after a quantum of calls that
// moved elements it lets the other fibers run. Used by the component's fiber
// only.
//
// A timed pacer (`timed`, in a timed run) has the clock of an always-running
// component, whose next call starts ii cycles after the last (see
// timed_run.h); an untimed one, as a task's, has none.
template <bool timed>
class fiber_pacer {
 public:
  explicit fiber_pacer(poll_log& log, component_clock* clock = nullptr)
      : log_(log), scheduler_(fiber_scheduler()), clock_(clock), left_(scheduler_.next_quantum()) {
    log_.set_pacer([](void* self) { static_cast<fiber_pacer*>(self)->idle_round(); }, this);
  }

  __attribute__((always_inline)) void busy_call() {
    if (timed) {
      timed_ops().call_ended(*clock_, true);
    }
    log_.clear();
    if (--left_ == 0) {
      scheduler_.switch_out();
      left_ = scheduler_.next_quantum();
    }
  }
  void idle_call() {
    if (timed) {
      timed_ops().call_ended(*clock_, false);
    }
    log_.next_round();
    idle_round();
  }
  // A call, or a loop of polls inside one, that found nothing: the fiber
  // waits until one of the streams it polled changes.
  void idle_round() {
    scheduler_.idle_call(log_);
    left_ = scheduler_.next_quantum();
  }

 private:
  poll_log& log_;
  const fiber_scheduler_ops& scheduler_;
  component_clock* const clock_;
  std::uint32_t left_;
};

// The calling thread's kind for on_scheduling_thread(): 0 not known yet, 1
// the main thread, 2 another. Constant-initialised.
inline std::uint8_t& scheduling_thread_kind() {
  static thread_local std::uint8_t kind = 0;
  return kind;
}

__attribute__((noinline)) inline bool learn_scheduling_thread() {
  std::uint8_t& kind = scheduling_thread_kind();
  if (kind == 0) {
    kind = on_main_thread() ? 1 : 2;
    learn_short_path_word(kind == 1);
  }
  return kind == 1;
}

// True on the main thread; on it, after the first call, one load and one
// comparison.
__attribute__((always_inline)) inline bool on_scheduling_thread() {
  return __builtin_expect(scheduling_thread_kind() == 1, 1) || learn_scheduling_thread();
}

// True on the scheduling thread of an untimed, untraced fibers run: there a
// stream operation takes no lock, and one that wakes no one and finds no
// sideband stored only moves and counts its element (see stream<T>).
__attribute__((always_inline)) inline bool short_stream_path() { return short_path_open_here(); }

// Called by each stream operation before it locks the stream: true when it
// must not (fibers, on the main thread); fatal on any other thread.
__attribute__((always_inline)) inline bool stream_lock_elided(const stream_info& stream) {
  if (!fiber_scheduling()) {
    return false;
  }
  if (!on_scheduling_thread()) {
    fail_off_thread_use(stream);
  }
  return true;
}

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_SCHEDULER_H
