#include "fiber_scheduler.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "HLS/internal/activity.h"
#include "HLS/internal/depth.h"
#include "HLS/internal/parking.h"
#include "HLS/internal/process_exit.h"
#include "HLS/internal/scheduler.h"
#include "HLS/internal/settings.h"
#include "depth_growth.h"
#include "depth_settings.h"
#include "fiber_ready_queue.h"
#include "fiber_stack.h"
#include "fiber_switch.h"
#include "hang_watch.h"
#include "run_snapshot.h"
#include "seconds_setting.h"
#include "spin_watch.h"
#include "switch_clock.h"
#include "trace_recorder.h"

namespace qrn_runtime {

namespace {

using qrn::internal::always_run_record;
using qrn::internal::poll_log;
using qrn::internal::poll_site;
using qrn::internal::poll_site_ops;

// Fiber resumes a test bench's empty poll allows before it gives up: a
// component that never goes quiet must not hold a polling bench for ever.
constexpr unsigned poll_resume_limit = 4096;
// Fiber resumes between two looks at the clock in run-all.
constexpr unsigned resumes_per_clock_look = 1024;

// waiting: in a blocking read or write; polling: parked after polls that
// found nothing, until a stream it polled changes.
enum class fiber_state : std::uint8_t {
  ready,
  running,
  waiting,
  polling,
  dormant,
  halted,
  finished
};

// What the main thread's thread-locals hold for one context (the test bench
// or a fiber): swapped with each switch.
struct context_locals {
  always_run_record* record = nullptr;
  poll_log* log = nullptr;
  std::uint64_t moved = 0;
  void* trace = nullptr;
  qrn::internal::write_refusal refusal;  // a tryWrite under way, which may switch (timed)

  void save() {
    record = qrn::internal::current_always_run_record();
    log = qrn::internal::current_poll_log();
    moved = qrn::internal::moved_elements();
    trace = this_thread_trace_slot();
    refusal = qrn::internal::current_write_refusal();
  }
  void load() const {
    qrn::internal::current_always_run_record() = record;
    qrn::internal::current_poll_log() = log;
    qrn::internal::moved_elements() = moved;
    this_thread_trace_slot() = trace;
    qrn::internal::current_write_refusal() = refusal;
  }
};

struct fiber {
  fiber(std::unique_ptr<std::function<void()>> work, fiber_switch::entry_point entry)
      : invocation(std::move(work)), context(stack, entry, this) {}

  std::unique_ptr<std::function<void()>> invocation;
  fiber_stack stack;
  fiber_switch context;
  fiber_state state = fiber_state::ready;
  bool listed_polling = false;  // in the scheduler's polling_ list
  context_locals locals;
  std::uint64_t moved_at_start = 0;  // its moved count when it last started running
  // Timed: the clock of an invocation that runs no component.
  qrn::internal::component_clock own_clock;
};

}  // namespace

bool read_schedule_seed(std::uint64_t& seed) {
  const qrn::internal::setting value = qrn::internal::setting_value("QRN_SCHEDULE_SEED");
  if (!value) {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  seed = std::strtoull(value.value, &end, 10);
  if (end == value.value || *end != '\0' || errno != 0 || value.value[0] == '-') {
    std::fprintf(stderr,
                 "qrn: ignoring QRN_SCHEDULE_SEED=%s%s: expected a whole number; using the fixed "
                 "order\n",
                 value.value, value.note());
    qrn::internal::note_bad_setting();
    return false;
  }
  return true;
}

namespace {

class scheduler {
 public:
  scheduler() : seeded_(read_schedule_seed(random_)), ready_(qrn::internal::timed_run()) {
    bench_random_ = random_ ^ 0x5bd1e9955bd1e995ULL;
  }

  void start(std::unique_ptr<std::function<void()>> invocation) {
    std::unique_ptr<fiber> made(new fiber(std::move(invocation), &run_fiber));
    make_ready(*made);
    made.release();
  }

  // Timed: the running fiber's clock, kept in found_running_clock until the
  // fiber leaves; null on the test bench.
  qrn::internal::component_clock* running_clock() {
    if (found_running_clock == nullptr && current_ != nullptr) {
      found_running_clock = &clock_of(*current_);
    }
    return found_running_clock;
  }

  // Timed, on a fiber: lets every ready fiber whose clock is before `cycle`
  // run first.
  void let_earlier_fibers_run(std::uint64_t cycle) {
    while (current_ != nullptr && ready_.any_before(cycle)) {
      current_->state = fiber_state::ready;
      make_ready_at(*current_, cycle);
      leave_running();
    }
  }

  std::int64_t await_write(void* stream, const poll_site_ops& ops, std::int64_t& since_ns) {
    poll_site site = waiting_site(stream, ops);
    if (!ops.enlist(stream, site)) {
      return since_ns;
    }
    note_switch_time();
    if (since_ns == 0) {
      since_ns = last_switch_ns_;
    }
    const qrn::internal::waiting_for what =
        ops.for_room ? qrn::internal::waiting_for::room : qrn::internal::waiting_for::element;
    qrn::internal::note_thread_sleeps(ops.info(stream), since_ns, what, std::memory_order_release);
    if (current_ != nullptr) {
      current_->state = fiber_state::waiting;
      hand_over();
    } else {
      run_until_bench_woken();
    }
    qrn::internal::note_thread_woke(false, what, std::memory_order_release);
    ops.leave(stream, site);
    return last_switch_ns_;
  }

  bool poll_empty(void* stream, const poll_site_ops& ops) {
    if (current_ != nullptr || bench_poll_finds_components_behind()) {
      return false;
    }
    poll_site site = waiting_site(stream, ops);
    if (!ops.enlist(stream, site)) {
      return true;
    }
    bench_woken_ = false;
    bool stuck = false;
    const unsigned resumes = run_for_bench(poll_resume_limit, stuck);
    ops.leave(stream, site);
    return resumes > 0;
  }

  void idle_call(poll_log& log) {
    fiber& self = *current_;
    if (log.empty()) {
      self.state = fiber_state::dormant;
      dormant_.push_back(&self);
      leave_running();
    } else if (log.enlist_all(&wake_fiber, &self)) {
      self.state = fiber_state::polling;
      if (!self.listed_polling) {
        self.listed_polling = true;
        polling_.push_back(&self);
      }
      leave_running();
      log.leave_all();
    } else {  // a stream it polls holds an element: let the others run first
      if (qrn::internal::timed_run()) {
        skip_idle_calls(clock_of(self), log, ready_.earliest_key());
      }
      switch_out();
    }
    log.clear();
  }

  void halt() {
    current_->state = fiber_state::halted;
    leave_running();
  }

  void switch_out() {
    current_->state = fiber_state::ready;
    make_ready(*current_);
    leave_running();
  }

  std::uint32_t next_quantum() {
    return seeded_ ? 1 + static_cast<std::uint32_t>(draw() % seeded_quantum_limit)
                   : default_quantum;
  }

  void run_all() {
    if (current_ != nullptr) {
      return;
    }
    const seconds_setting& limit = settle_limit();
    const std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    wake_dormant();
    loop_ = {resumes_ + resumes_per_clock_look, false, nullptr};
    while (fiber* next = next_ready_or_idle()) {
      resume(*next);
      if (resumes_ >= loop_.resumes_until) {
        loop_.resumes_until = resumes_ + resumes_per_clock_look;
        if (limit.reached(std::chrono::steady_clock::now() - started)) {
          loop_ = {};
          warn_gave_up(limit);
          return;
        }
      }
    }
    loop_ = {};
    check_tasks_after_run_all();
  }

  // The spin watch names the component of the running fiber.
  void entered_component(const always_run_record& record) {
    progress_.running.store(&record, std::memory_order_release);
  }

  // On a fiber the others run until the task has ended; on the test bench
  // the fibers run, and none that can run while it has not is a deadlock.
  void await_task(const always_run_record& task) {
    if (current_ != nullptr) {
      while (!task.ended.load()) {
        switch_out();
      }
      return;
    }
    qrn::internal::note_bench_waits_for_task(&task);
    wake_dormant();
    loop_ = {UINT64_MAX, false, &task};
    while (!task.ended.load()) {
      fiber* next = next_ready_or_idle();
      if (next != nullptr) {
        resume(*next);
      } else if (depth_mode_setting() != qrn::internal::depth_mode::grow || !grow_a_held_stream()) {
        report_deadlock(any_polling());
      }
    }
    loop_ = {};
    qrn::internal::note_bench_waits_for_task(nullptr);
  }

 private:
  // Where a write finds the calling context while it waits.
  poll_site waiting_site(void* stream, const poll_site_ops& ops) {
    poll_site site;
    site.stream = stream;
    site.ops = &ops;
    site.notify = current_ != nullptr ? &wake_fiber : &wake_bench;
    site.waiter = current_ != nullptr ? static_cast<void*>(current_) : static_cast<void*>(this);
    return site;
  }

  static void wake_fiber(const poll_site& site) {
    fiber& waiter = *static_cast<fiber*>(site.waiter);
    if (waiter.state == fiber_state::waiting || waiter.state == fiber_state::polling) {
      waiter.state = fiber_state::ready;
      the().make_ready(waiter);
    }
  }

  static void wake_bench(const poll_site& site) {
    static_cast<scheduler*>(site.waiter)->bench_woken_ = true;
  }

  // On the test bench, enlisted to wait: runs fibers until a write (a
  // read) wakes it; none able to run is a deadlock. Out of line, so that a
  // fiber's wait keeps to the few registers of its own path.
  __attribute__((noinline)) void run_until_bench_woken() {
    bench_woken_ = false;
    for (;;) {
      bool stuck = false;
      run_for_bench(~0U, stuck);
      if (!stuck) {
        return;
      }
      // QRN_DEPTH=grow: a writer held by a full stream lets the run go on.
      if (depth_mode_setting() != qrn::internal::depth_mode::grow || !grow_a_held_stream()) {
        report_deadlock(any_polling());
      }
    }
  }

  // On the test bench: runs fibers until a write wakes the bench, none is
  // ready (`stuck`), or `limit` resumes. Returns the resumes made.
  unsigned run_for_bench(unsigned limit, bool& stuck) {
    wake_dormant();
    const std::uint64_t before = resumes_;
    loop_ = {before + limit, true, nullptr};
    while (!bench_woken_ && resumes_ - before < limit) {
      fiber* next = next_ready_or_idle();
      if (next == nullptr) {
        stuck = true;
        break;
      }
      resume(*next);
    }
    loop_ = {};
    return static_cast<unsigned>(resumes_ - before);
  }

  // The next ready fiber. When none is, and elements moved since the last
  // time, every polling and dormant fiber runs once more first: a poller
  // parks on the streams it polled in one loop, which may not be all it
  // polls. With nothing moved since, they are truly idle: null.
  fiber* next_ready_or_idle() {
    if (ready_.empty()) {
      const std::uint64_t moves = qrn::internal::moved_elements() + fiber_moves_;
      if (moves == moves_at_idle_wake_) {
        return nullptr;
      }
      moves_at_idle_wake_ = moves;
      for (fiber* poller : polling_) {
        poller->listed_polling = false;
        if (poller->state == fiber_state::polling) {
          poller->state = fiber_state::ready;
          make_ready(*poller);
        }
      }
      polling_.clear();
      wake_dormant();
    }
    return next_ready();
  }

  // True when a fiber is parked after polls that found nothing.
  bool any_polling() const {
    for (const fiber* poller : polling_) {
      if (poller->state == fiber_state::polling) {
        return true;
      }
    }
    return false;
  }

  fiber* next_ready() {
    if (ready_.empty()) {
      return nullptr;
    }
    return ready_.pop([this](std::size_t ready) {
      return seeded_ ? static_cast<std::size_t>(draw() % ready) : 0;
    });
  }

  // In a timed run a fiber made ready runs at its clock (make_ready), or at
  // `cycle` (make_ready_at); untimed, in turn.
  void make_ready(fiber& ready) {
    if (qrn::internal::timed_run()) {
      make_ready_at(ready, clock_of(ready).now);
    } else {
      ready_.push(&ready, 0, 0);
    }
  }
  void make_ready_at(fiber& ready, std::uint64_t cycle) {
    ready_.push(&ready, cycle, seeded_ ? draw() : ties_++);
  }

  qrn::internal::component_clock& clock_of(fiber& f) {
    always_run_record* record =
        &f == current_ ? qrn::internal::current_always_run_record() : f.locals.record;
    return record != nullptr ? record->clock : f.own_clock;
  }

  // From the test bench: runs `next` (and the fibers it hands the thread
  // to) until one leaves to the bench; one resume of the bench's loop.
  void resume(fiber& next) {
    ++resumes_;
    if (halted_for_stop(next)) {
      return;
    }
    give_this_thread_a_signal_stack();
    note_switch_time();
    bench_locals_.save();
    start_running(next);
    next.context.enter();
    fiber& left = *current_;
    stop_running(left);
    bench_locals_.load();
    if (left.state == fiber_state::finished) {
      if (left.listed_polling) {
        polling_.erase(std::find(polling_.begin(), polling_.end(), &left));
      }
      delete &left;
    }
  }

  // A fiber whose component was stopped (it used a stream destroyed since)
  // is halted for good instead of running.
  static bool halted_for_stop(fiber& next) {
    if (next.locals.record == nullptr || !next.locals.record->stop_requested.load()) {
      return false;
    }
    next.state = fiber_state::halted;
    next.locals.record->halted.store(true);
    return true;
  }

  // The main thread's thread-locals, the spin watch and current_ follow the
  // fiber that starts or stops running.
  void start_running(fiber& next) {
    next.locals.load();
    next.state = fiber_state::running;
    current_ = &next;
    found_running_clock = nullptr;
    next.moved_at_start = next.locals.moved;
    publish_progress(next.locals.record);
  }
  void stop_running(fiber& left) {
    progress_.running.store(nullptr, std::memory_order_relaxed);
    current_ = nullptr;
    found_running_clock = nullptr;
    left.locals.save();
    fiber_moves_ += left.locals.moved - left.moved_at_start;
  }

  // The running fiber, its state set, gives up the thread.
  void leave_running() {
    note_switch_time();
    hand_over();
  }

  // The switch happens now: last_switch_ns_ tells when.
  void note_switch_time() { last_switch_ns_ = switch_clock_.now_ns(); }

  // leave_running() once the switch time is noted. Untimed, the fiber hands
  // the thread straight to the fiber that the test bench's loop would resume
  // next, when that loop would go on at once, which saves the trip through
  // the bench's stack; the fibers run in the same order either way.
  // Otherwise, and in a timed run, it leaves to the bench's loop.
  void hand_over() {
    fiber& self = *current_;
    fiber* const next = next_without_bench();
    if (next == nullptr) {
      self.context.leave();
      return;
    }
    stop_running(self);
    start_running(*next);
    if (next != &self) {
      self.context.hand_to(next->context);
    }
  }

  // The fiber the test bench's loop would resume now, popped and counted as
  // a resume; null when the loop would first look at something else (a
  // write woke the bench, the awaited task ended, its resumes ran out, no
  // fiber is ready) or the run is timed.
  fiber* next_without_bench() {
    if (qrn::internal::timed_run()) {
      return nullptr;
    }
    for (;;) {
      if (ready_.empty() || resumes_ >= loop_.resumes_until ||
          (loop_.ends_when_woken && bench_woken_) ||
          (loop_.ends_with != nullptr && loop_.ends_with->ended.load())) {
        return nullptr;
      }
      fiber* const next = next_ready();
      ++resumes_;
      if (!halted_for_stop(*next)) {
        return next;
      }
    }
  }

  // For the spin watch, started with the first resume (the runtime's
  // settings are read by then).
  void publish_progress(const always_run_record* running) {
    if (!progress_watched_) {
      progress_watched_ = true;
      watch_fiber_progress(progress_);
    }
    progress_.running.store(running, std::memory_order_relaxed);
    progress_.switches.store(progress_.switches.load(std::memory_order_relaxed) + 1,
                             std::memory_order_release);
  }

  void wake_dormant() {
    for (fiber* sleeper : dormant_) {
      sleeper->state = fiber_state::ready;
      make_ready(*sleeper);
    }
    dormant_.clear();
  }

  // splitmix64, on `state`
  static std::uint64_t draw(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  std::uint64_t draw() { return draw(random_); }

  // Under a seed, a test bench's poll that finds a stream empty (or full)
  // lets the components run only every other time, drawn: as with threads,
  // the bench may find them not yet done, so that a bench that counts on
  // their progress without run-all differs between seeds. The draws come
  // from a sequence of their own, so that benches that do not poll keep
  // their interleavings; a timed run's clocks decide what a poll finds.
  bool bench_poll_finds_components_behind() {
    if (!seeded_ || qrn::internal::timed_run()) {
      return false;
    }
    return draw(bench_random_) % 2 == 0;
  }

  void warn_gave_up(const seconds_setting& limit) {
    std::string busy;
    ready_.for_each([&busy](const fiber& waiting) {
      busy += busy.empty() ? "" : ", ";
      busy += waiting.locals.record != nullptr ? component_name(*waiting.locals.record)
                                               : std::string("a task invocation");
    });
    std::fprintf(stderr,
                 "qrn: __qrn_hls_component_run_all gave up after %s s (QRN_SETTLE_LIMIT): "
                 "components still busy: %s\n",
                 limit.text().c_str(), busy.c_str());
  }

  static void run_fiber(void* argument) {
    fiber& self = *static_cast<fiber*>(argument);
    try {
      (*self.invocation)();
    } catch (...) {
      std::terminate();  // as on a worker thread: nothing may unwind past the fiber
    }
    self.invocation.reset();
    self.state = fiber_state::finished;
    the().note_switch_time();
    self.context.leave_for_good();
  }

 public:
  static scheduler& the() {
    static auto* only = new scheduler;  // never destroyed: fibers may run during exit
    return *only;
  }

 private:
  std::uint64_t random_ = 0;
  std::uint64_t bench_random_ = 0;  // the bench polls' draws; from the seed
  bool seeded_;
  fiber_ready_queue<fiber> ready_;
  std::uint64_t ties_ = 0;  // entries into ready_, the order of equal clocks
  std::vector<fiber*> dormant_;
  std::vector<fiber*> polling_;    // each polling fiber once, and some that were woken since
  std::uint64_t fiber_moves_ = 0;  // elements moved by fibers, all together
  // Elements moved, by the bench and the fibers, when polling and dormant
  // fibers were last all woken.
  std::uint64_t moves_at_idle_wake_ = 0;
  fiber* current_ = nullptr;  // null while the test bench runs
  // The steady clock, in ns, at the latest switch between the contexts (the
  // fibers and the test bench): a wait that began or ended with a switch
  // takes its time from there.
  switch_clock switch_clock_;
  std::int64_t last_switch_ns_ = 0;
  context_locals bench_locals_;
  bool bench_woken_ = false;
  // Fibers resumed by the test bench's loops, or handed the thread in them.
  std::uint64_t resumes_ = 0;
  // The loop of the test bench that runs the fibers now: when it would stop
  // resuming them (see next_without_bench()). None runs: no handing over.
  struct bench_loop {
    std::uint64_t resumes_until = 0;               // it looks elsewhere once resumes_ reaches this
    bool ends_when_woken = false;                  // it ends once a write wakes the bench
    const always_run_record* ends_with = nullptr;  // it ends once this task has ended
  };
  bench_loop loop_;
  fiber_progress progress_;
  bool progress_watched_ = false;
};

}  // namespace

void run_all_fibers() { scheduler::the().run_all(); }

qrn::internal::component_clock* found_running_clock = nullptr;

qrn::internal::component_clock* find_running_fiber_clock() {
  return scheduler::the().running_clock();
}

void let_earlier_fibers_run(std::uint64_t cycle) { scheduler::the().let_earlier_fibers_run(cycle); }

}  // namespace qrn_runtime

extern "C" __attribute__((visibility("default"))) const qrn::internal::fiber_scheduler_ops*
qrn_fiber_scheduler() {
  using qrn_runtime::scheduler;
  static const qrn::internal::fiber_scheduler_ops ops = {
      [](std::unique_ptr<std::function<void()>> invocation) {
        scheduler::the().start(std::move(invocation));
      },
      [](void* stream, const qrn::internal::poll_site_ops& site_ops, std::int64_t& since_ns) {
        return scheduler::the().await_write(stream, site_ops, since_ns);
      },
      [](void* stream, const qrn::internal::poll_site_ops& site_ops) {
        return scheduler::the().poll_empty(stream, site_ops);
      },
      [](qrn::internal::poll_log& log) { scheduler::the().idle_call(log); },
      [] { scheduler::the().switch_out(); },
      [] { return scheduler::the().next_quantum(); },
      &qrn_runtime::run_all_fibers,
      [] { scheduler::the().halt(); },
      [](const qrn::internal::always_run_record& task) { scheduler::the().await_task(task); },
      [](const qrn::internal::always_run_record& record) {
        scheduler::the().entered_component(record);
      },
  };
  return &ops;
}
