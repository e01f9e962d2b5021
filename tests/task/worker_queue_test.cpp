// The task worker: queue order, one invocation at a time, bound arguments,
// launches from inside invocations, start-up and destruction of a worker.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "HLS/task.h"
#include "task/invocation_log.h"
#include "task/latch.h"

namespace {

using qrn::internal::_task;
using qrn::internal::task;
using qrn_test::invocation_log;
using qrn_test::latch;

invocation_log logs[8];  // one per task function below

template <int tag>
void record_value(int value) {
  logs[tag].record(value);
}

// Several launching threads share one log: the value encodes thread and sequence.
constexpr int per_thread = 100000;

template <int tag>
void record_from(int thread, int sequence) {
  logs[tag].record(thread * per_thread + sequence);
}

TEST(TaskWorker, RunsQueuedInvocationsOneAtATimeInQueueOrder) {
  using worker = task<void(int), record_value<0>, true>;
  constexpr int count = 3000;
  for (int i = 0; i < count; i += 3) {
    // The capacity is not consulted: all three shapes share one FIFO.
    worker::launch<0>(i);
    worker::launch<1>(i + 1);
    worker::launch<1024>(i + 2);
  }
  std::vector<int> expected(count);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(logs[0].wait_for_values(count), expected);
  EXPECT_EQ(logs[0].overlaps(), 0);
}

template <int tag>
void expect_each_launchers_order_kept(int threads) {
  using worker = task<void(int, int), record_from<tag>, true>;
  constexpr int launches = 500;
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> launchers;
  for (int t = 0; t < threads; ++t) {
    launchers.emplace_back([&, t] {
      ready.fetch_add(1);
      while (!go.load()) {
        std::this_thread::yield();
      }
      for (int i = 0; i < launches; ++i) {
        worker::template launch<0>(t, i);
      }
    });
  }
  while (ready.load() < threads) {
    std::this_thread::yield();
  }
  go.store(true);
  for (std::thread& launcher : launchers) {
    launcher.join();
  }

  const std::vector<int> ran = logs[tag].wait_for_values(threads * launches);
  ASSERT_EQ(ran.size(), static_cast<std::size_t>(threads * launches));
  std::vector<int> next(threads, 0);
  for (int value : ran) {
    const int t = value / per_thread;
    ASSERT_LT(t, threads);
    EXPECT_EQ(value % per_thread, next[t]) << "launcher " << t;
    next[t] = value % per_thread + 1;
  }
  EXPECT_EQ(next, std::vector<int>(threads, launches));
  EXPECT_EQ(logs[tag].overlaps(), 0);
}

TEST(TaskWorker, KeepsEachLaunchersOrderUnderConcurrentLaunches) {
  expect_each_launchers_order_kept<1>(2);
  expect_each_launchers_order_kept<2>(4);
  expect_each_launchers_order_kept<3>(8);
}

// ---- Bound arguments ---------------------------------------------------------

latch text_gate(1);
latch texts_recorded(4);
std::mutex texts_m;
std::vector<std::string> texts;  // guarded by texts_m

// The first invocation holds the worker until the test opens the gate, so the
// later ones run only after the test has changed or destroyed their arguments.
void record_text(const std::string& text) {
  if (text == "hold") {
    EXPECT_TRUE(text_gate.wait_for());
  }
  {
    std::lock_guard<std::mutex> lock(texts_m);
    texts.push_back(text);
  }
  texts_recorded.count_down();
}

TEST(TaskWorker, BindsLaunchArgumentsByValue) {
  using worker = task<void(const std::string&), record_text, true>;
  worker::launch<0>(std::string("hold"));
  std::string changed = "as launched";
  worker::launch<0>(changed);
  changed = "changed after the launch";
  worker::launch<0>(std::string(300, 't'));  // the temporary dies before it runs
  const std::string constant = "from a const lvalue";
  worker::launch<0>(constant);
  text_gate.count_down();

  ASSERT_TRUE(texts_recorded.wait_for());
  std::lock_guard<std::mutex> lock(texts_m);
  EXPECT_EQ(texts, (std::vector<std::string>{"hold", "as launched", std::string(300, 't'),
                                             "from a const lvalue"}));
}

// ---- Launches from inside invocations ------------------------------------------

void launch_own_successor(int remaining);
using chain_worker = task<void(int), launch_own_successor, true>;

// Records itself and queues the next link on its own worker.
void launch_own_successor(int remaining) {
  logs[4].record(remaining);
  if (remaining > 0) {
    chain_worker::launch<0>(remaining - 1);
  }
}

void launch_two_children(int depth);
using tree_worker = task<void(int), launch_two_children, true>;

void launch_two_children(int depth) {
  logs[5].record(depth);
  if (depth > 0) {
    tree_worker::launch<0>(depth - 1);
    tree_worker::launch<0>(depth - 1);
  }
}

void ping(int remaining);
void pong(int remaining);
using ping_worker = task<void(int), ping, true>;
using pong_worker = task<void(int), pong, true>;

void ping(int remaining) {
  logs[6].record(remaining);
  if (remaining > 0) {
    pong_worker::launch<0>(remaining - 1);
  }
}

void pong(int remaining) {
  logs[6].record(remaining);
  if (remaining > 0) {
    ping_worker::launch<0>(remaining - 1);
  }
}

TEST(TaskWorker, InvocationsLaunchOnTheirOwnTaskWithoutDeadlock) {
  constexpr int links = 2000;
  chain_worker::launch<0>(links - 1);
  std::vector<int> expected(links);
  std::iota(expected.rbegin(), expected.rend(), 0);
  EXPECT_EQ(logs[4].wait_for_values(links), expected);

  constexpr int depth = 10;  // 2^11 - 1 invocations, each queuing two more
  tree_worker::launch<0>(depth);
  const std::vector<int> tree = logs[5].wait_for_values((2 << depth) - 1);
  ASSERT_EQ(tree.size(), static_cast<std::size_t>((2 << depth) - 1));
  // Breadth-first: every depth level runs after the whole level above it.
  EXPECT_TRUE(std::is_sorted(tree.rbegin(), tree.rend()));
  EXPECT_EQ(logs[5].overlaps(), 0);
}

TEST(TaskWorker, InvocationsLaunchOnEachOthersTasksWithoutDeadlock) {
  constexpr int hops = 2000;
  ping_worker::launch<0>(hops - 1);
  std::vector<int> expected(hops);
  std::iota(expected.rbegin(), expected.rend(), 0);
  EXPECT_EQ(logs[6].wait_for_values(hops), expected);
}

// ---- Start-up and destruction of a worker ------------------------------------

void count_down(latch* done) { done->count_down(); }

TEST(TaskWorker, RunsAnInvocationQueuedRightAfterConstruction) {
  // The launch usually lands before the new worker thread first waits; its
  // wake-up must not be lost.
  for (int i = 0; i < 2000; ++i) {
    latch ran(1);
    _task<void(latch*), count_down, false> worker;
    worker.launch<0>(&ran);
    ASSERT_TRUE(ran.wait_for()) << "lost wake-up in round " << i;
  }
}

TEST(TaskWorker, DestroysANeverLaunchedWorker) {
  // The destructor may run before the worker thread first waits; it must
  // still end the thread and return.
  for (int i = 0; i < 2000; ++i) {
    _task<void(latch*), count_down, false> worker;
  }
}

void wait_then_count(latch* gate, std::atomic<int>* ran) {
  if (gate != nullptr) {
    EXPECT_TRUE(gate->wait_for());
  }
  ran->fetch_add(1);
}

TEST(TaskWorker, UndetachedWorkerDrainsItsQueueBeforeItIsDestroyed) {
  constexpr int queued = 200;
  for (int round = 0; round < 20; ++round) {
    latch gate(1);
    std::atomic<int> ran{0};
    {
      _task<void(latch*, std::atomic<int>*), wait_then_count, false> worker;
      worker.launch<0>(&gate, &ran);
      for (int i = 0; i < queued; ++i) {
        worker.launch<0>(nullptr, &ran);
      }
      gate.count_down();
    }
    EXPECT_EQ(ran.load(), queued + 1) << "round " << round;
  }
}

}  // namespace
