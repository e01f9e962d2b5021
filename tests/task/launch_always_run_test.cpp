// qrn::launch_always_run: one launch per component, whoever calls first and
// however often it is called.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include "HLS/task.h"
#include "task/latch.h"
#include "task/parked_component.h"

namespace {

using qrn_test::outstanding_invocations;
using qrn_test::parked_component;
using qrn_test::parked_records;

// Every parked component of this program stays queued for good, so the
// difference to a count taken before a test is what that test launched.

TEST(LaunchAlwaysRun, TwoHundredCallsQueueOneInvocation) {
  const long before = outstanding_invocations();
  qrn::launch_always_run<parked_component<0>>();
  EXPECT_EQ(outstanding_invocations() - before, 1);
  for (int i = 1; i < 200; ++i) {
    qrn::launch_always_run<parked_component<0>>();
  }
  EXPECT_EQ(outstanding_invocations() - before, 1);

  ASSERT_TRUE(parked_records[0].first_call.wait_for());
  std::lock_guard<std::mutex> lock(parked_records[0].m);
  ASSERT_EQ(parked_records[0].callers.size(), 1u);
  EXPECT_NE(parked_records[0].callers[0], std::this_thread::get_id());
}

constexpr int first_concurrent_tag = 4;  // tags 0 to 3 belong to the other tests

// `callers` threads make the first call at the same moment. Each must return
// only once the one launch has been queued.
template <int tag>
void expect_one_launch_from_concurrent_first_calls(int callers) {
  const long before = outstanding_invocations();
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  std::vector<std::thread::id> caller_ids;
  for (int i = 0; i < callers; ++i) {
    threads.emplace_back([&] {
      ready.fetch_add(1);
      while (!go.load()) {
        std::this_thread::yield();
      }
      qrn::launch_always_run<parked_component<tag>>();
      EXPECT_EQ(outstanding_invocations() - before, 1) << "returned before the launch was queued";
    });
    caller_ids.push_back(threads.back().get_id());
  }
  while (ready.load() < callers) {
    std::this_thread::yield();
  }
  go.store(true);
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(outstanding_invocations() - before, 1);

  ASSERT_TRUE(parked_records[tag].first_call.wait_for());
  std::lock_guard<std::mutex> lock(parked_records[tag].m);
  ASSERT_EQ(parked_records[tag].callers.size(), 1u);
  for (std::thread::id caller : caller_ids) {
    EXPECT_NE(parked_records[tag].callers[0], caller) << "ran on a caller's thread";
  }
}

// One round per component with 2, 4 or 8 first callers: the window in which
// a caller could return early is short, so it takes many rounds to hit it.
template <int... rounds>
void expect_one_launch_per_round(std::integer_sequence<int, rounds...>) {
  const int ignored[] = {(
      expect_one_launch_from_concurrent_first_calls<first_concurrent_tag + rounds>(2
                                                                                   << (rounds % 3)),
      0)...};
  (void)ignored;
}

TEST(LaunchAlwaysRun, ConcurrentFirstCallsLaunchOnce) {
  expect_one_launch_per_round(
      std::make_integer_sequence<int, qrn_test::parked_component_count - first_concurrent_tag>());
}

// The component's first call waits for the test, which goes on only after
// the launch returned: a launch that waited for the component would hang.
qrn_test::latch release_component(1);

void waits_for_the_test() {
  EXPECT_TRUE(release_component.wait_for());
  parked_component<3>();
}

TEST(LaunchAlwaysRun, ReturnsWithoutWaitingForTheComponent) {
  qrn::launch_always_run<waits_for_the_test>();
  release_component.count_down();
  EXPECT_TRUE(parked_records[3].first_call.wait_for());
}

}  // namespace
