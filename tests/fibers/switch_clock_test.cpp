// The clock the fiber scheduler reads at each switch. A scripted source
// plays the counter and the steady clock, so that the cases a real machine
// shows only by chance (a reading delayed by preemption, a counter that
// jumps or goes back) come every time; the machine's own source is checked
// against its steady clock.
#include "switch_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>

namespace {

// True time in ns; the counter runs `ticks_per_ns` from `offset`. A
// steady-clock read can be made to take `delay_ns` (the thread preempted
// between the counter's read and the clock's).
struct script {
  std::int64_t now = 1000000000;
  std::uint64_t offset = 5000;
  std::int64_t ticks_per_ns = 3;
  std::int64_t delay_ns = 0;
  bool usable = true;
  int steady_reads = 0;
};

struct scripted_source {
  script* s;
  bool counter_usable() const { return s->usable; }
  std::uint64_t ticks() const {
    return s->offset + static_cast<std::uint64_t>(s->now * s->ticks_per_ns);
  }
  std::int64_t steady_ns() const {
    ++s->steady_reads;
    s->now += s->delay_ns;
    s->delay_ns = 0;
    return s->now;
  }
};

using scripted_clock = qrn_runtime::basic_switch_clock<scripted_source>;

// Reads the clock every `step_ns` for `span_ns`: each value no earlier than
// the true time (but for rounding) and at most `ahead_ns` later, and none
// before the one read before it.
void read_along(scripted_clock& clock, script& s, std::int64_t span_ns, std::int64_t step_ns,
                std::int64_t ahead_ns, std::int64_t& previous) {
  for (const std::int64_t end = s.now + span_ns; s.now < end; s.now += step_ns) {
    const std::int64_t value = clock.now_ns();
    ASSERT_GE(value, previous);
    ASSERT_GE(value, s.now - 1) << "at " << s.now;
    ASSERT_LE(value, s.now + ahead_ns) << "at " << s.now;
    previous = value;
  }
}

TEST(SwitchClock, ScalesTheCounterAndReadsTheSteadyClockAboutOncePerMillisecond) {
  script s;
  scripted_clock clock(scripted_source{&s});
  std::int64_t previous = 0;
  read_along(clock, s, 6000000, 10000, 1, previous);  // the first rate takes 5 ms
  s.steady_reads = 0;
  read_along(clock, s, 20000000, 10000, 1, previous);
  EXPECT_GE(s.steady_reads, 19);  // one per millisecond of counter, not one per read
  EXPECT_LE(s.steady_reads, 21);
}

TEST(SwitchClock, TakesNoRateFromAReadingDelayedBetweenItsCounterReads) {
  script s;
  scripted_clock clock(scripted_source{&s});
  std::int64_t previous = 0;
  read_along(clock, s, 4990000, 10000, 0, previous);
  s.delay_ns = 2000000;  // as the first rate would be measured
  read_along(clock, s, 20000000, 10000, 1, previous);
  s.delay_ns = 300000;  // as the clock is anchored again
  read_along(clock, s, 20000000, 10000, 1, previous);
}

TEST(SwitchClock, KeepsItsRateWhenTheCounterJumpsOrGoesBack) {
  script s;
  scripted_clock clock(scripted_source{&s});
  std::int64_t previous = 0;
  read_along(clock, s, 6300000, 10000, 1, previous);
  // A tenth of a millisecond ahead, between anchors: the values run ahead
  // by as much until the steady clock is read again, then wait for it; the
  // rate measured across the jump is dropped, so none falls behind.
  s.offset += 300000;
  read_along(clock, s, 3000000, 10000, 100001, previous);
  read_along(clock, s, 20000000, 10000, 1, previous);
  s.offset += 1000000000000ULL;
  read_along(clock, s, 20000000, 10000, 1, previous);
  s.offset -= 2000000000000ULL;
  read_along(clock, s, 20000000, 10000, 1, previous);
  s.steady_reads = 0;
  read_along(clock, s, 10000000, 10000, 1, previous);
  EXPECT_LE(s.steady_reads, 11);  // scaled again, at the rate it had
}

TEST(SwitchClock, StartsItsFirstRateAgainWhenTheCounterJumpsBeforeIt) {
  script s;
  scripted_clock clock(scripted_source{&s});
  std::int64_t previous = 0;
  read_along(clock, s, 2000000, 10000, 0, previous);
  s.offset += 1000000000000ULL;
  read_along(clock, s, 10000000, 10000, 1, previous);
  s.steady_reads = 0;
  read_along(clock, s, 10000000, 10000, 1, previous);
  EXPECT_LE(s.steady_reads, 11);
}

TEST(SwitchClock, ReadsTheSteadyClockEachTimeWithoutATrustedCounter) {
  script s;
  s.usable = false;
  scripted_clock clock(scripted_source{&s});
  std::int64_t previous = 0;
  read_along(clock, s, 3000000, 10000, 0, previous);
  EXPECT_EQ(s.steady_reads, 300);
}

TEST(SwitchClock, TheMachinesClockStaysWithItsSteadyClock) {
  constexpr std::int64_t tolerance_ns = 1000000;
  const auto steady_ns = [] { return qrn_runtime::hardware_clock_source::steady_ns(); };
  qrn_runtime::switch_clock clock;
  std::int64_t previous = 0;
  for (int stretch = 0; stretch < 4; ++stretch) {
    const std::int64_t busy_until = steady_ns() + 7000000;
    for (std::int64_t before = steady_ns(); before < busy_until; before = steady_ns()) {
      const std::int64_t now = clock.now_ns();
      const std::int64_t after = steady_ns();
      ASSERT_GE(now, previous);
      ASSERT_GE(now, before - tolerance_ns);
      ASSERT_LE(now, after + tolerance_ns);
      previous = now;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace
