// The clock the fiber scheduler reads at each switch: a scripted counter and
// steady clock play what a machine shows only by chance (a reading delayed
// by preemption, a counter that jumps or goes back).
#include "switch_clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

// True time in ns; the counter runs 3 ticks per ns from `offset`; the next
// steady-clock read takes `delay_ns` (preempted after the counter's read).
struct script {
  std::int64_t now = 1000000000;
  std::uint64_t offset = 5000;
  std::int64_t delay_ns = 0;
  bool usable = true;
  int steady_reads = 0;
};

struct scripted_source {
  script* s;
  bool counter_usable() const { return s->usable; }
  std::uint64_t ticks() const { return s->offset + static_cast<std::uint64_t>(s->now * 3); }
  std::int64_t steady_ns() const {
    ++s->steady_reads;
    s->now += s->delay_ns;
    s->delay_ns = 0;
    return s->now;
  }
};

constexpr std::int64_t ms = 1000000;
constexpr int any = 1 << 30;

// The counter jumps and the next steady-clock read is delayed; then every
// 10 us for `span_ns` a value is read: never back, at most `ahead_ns` past
// the true time and not before it (but for rounding); the steady clock is
// read `least_reads` to `most_reads` times.
struct phase {
  std::int64_t span_ns;
  std::int64_t jump_ticks = 0;
  std::int64_t delay_ns = 0;
  int least_reads = 0;
  int most_reads = any;
  std::int64_t ahead_ns = 1;
};

struct scenario {
  const char* what;
  bool usable;
  std::vector<phase> phases;
};

TEST(SwitchClock, FollowsTheSteadyClockThroughDelaysJumpsAndGoingBack) {
  const std::int64_t far = 1000000000000;
  const std::vector<scenario> scenarios = {
      {"scales the counter, reading the steady clock once per ms after 5 ms",
       true,
       {{6 * ms}, {20 * ms, 0, 0, 19, 21}}},
      {"a reading delayed between its counter reads gives no rate",
       true,
       {{4990000}, {20 * ms, 0, 2 * ms}, {20 * ms, 0, 300000}}},
      {"runs ahead of a small jump, then waits; keeps its rate through jumps and going back",
       true,
       {{6300000},
        {3 * ms, 300000, 0, 0, any, 100001},
        {20 * ms},
        {20 * ms, far},
        {20 * ms, -2 * far},
        {10 * ms, 0, 0, 0, 11}}},
      {"starts its first rate again after a jump before it",
       true,
       {{2 * ms}, {10 * ms, far}, {10 * ms, 0, 0, 0, 11}}},
      {"without a trusted counter, reads the steady clock each time",
       false,
       {{3 * ms, 0, 0, 300, 300}}},
  };
  for (const scenario& played : scenarios) {
    SCOPED_TRACE(played.what);
    script s;
    s.usable = played.usable;
    qrn_runtime::basic_switch_clock<scripted_source> clock(scripted_source{&s});
    std::int64_t previous = 0;
    for (const phase& p : played.phases) {
      s.offset += static_cast<std::uint64_t>(p.jump_ticks);
      s.delay_ns = p.delay_ns;
      s.steady_reads = 0;
      for (const std::int64_t end = s.now + p.span_ns; s.now < end; s.now += 10000) {
        const std::int64_t value = clock.now_ns();
        ASSERT_GE(value, previous);
        ASSERT_GE(value, s.now - 1) << "at " << s.now;
        ASSERT_LE(value, s.now + p.ahead_ns) << "at " << s.now;
        previous = value;
      }
      EXPECT_GE(s.steady_reads, p.least_reads);
      EXPECT_LE(s.steady_reads, p.most_reads);
    }
  }
}

TEST(SwitchClock, TheMachinesClockStaysWithinAMillisecondOfItsSteadyClock) {
  qrn_runtime::switch_clock clock;
  std::int64_t previous = 0;
  for (int stretch = 0; stretch < 4; ++stretch) {
    for (std::int64_t before = 0, until = qrn_runtime::steady_now_ns() + 7 * ms; before < until;) {
      before = qrn_runtime::steady_now_ns();
      const std::int64_t now = clock.now_ns();
      ASSERT_GE(now, std::max(previous, before - ms));
      ASSERT_LE(now, qrn_runtime::steady_now_ns() + ms);
      previous = now;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace
