// The clock the fiber scheduler reads at each switch: its values stay with
// the steady clock's, across busy stretches read back to back (scaled from
// the counter) and across sleeps (anchored again), and never go back.
#include "switch_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>

namespace {

std::int64_t steady_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

TEST(SwitchClock, StaysWithTheSteadyClockAndNeverGoesBack) {
  constexpr std::int64_t tolerance_ns = 100000;
  qrn_runtime::switch_clock clock;
  std::int64_t previous = 0;
  std::int64_t reads = 0;
  for (int stretch = 0; stretch < 4; ++stretch) {
    const std::int64_t busy_until = steady_ns() + 3000000;
    for (std::int64_t before = steady_ns(); before < busy_until; before = steady_ns()) {
      const std::int64_t now = clock.now_ns();
      const std::int64_t after = steady_ns();
      ASSERT_GE(now, previous);
      ASSERT_GE(now, before - tolerance_ns) << "read " << reads;
      ASSERT_LE(now, after + tolerance_ns) << "read " << reads;
      previous = now;
      ++reads;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_GT(reads, 100);
}

}  // namespace
