// Parking of idle polling components, one parker and its poll log at a time:
// the test thread stands in for a component's worker by logging its empty
// polls. Sleeps use a pause no test waits out, so a lost wake-up hangs the
// test until CTest's timeout rather than passing late.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "HLS/hls_internal.h"
#include "HLS/internal/parking.h"

namespace {

using qrn::internal::idle_parker;
using qrn::internal::poll_log;
using stream = qrn::internal::stream<int>;

constexpr std::chrono::microseconds forever = std::chrono::hours(1);
constexpr std::chrono::microseconds no_pause{0};

// Makes the calling thread log its empty polls in `log` while it lives.
class logging_polls {
 public:
  explicit logging_polls(poll_log& log) { qrn::internal::current_poll_log() = &log; }
  ~logging_polls() { qrn::internal::current_poll_log() = nullptr; }
  logging_polls(const logging_polls&) = delete;
  logging_polls& operator=(const logging_polls&) = delete;
};

void poll_empty(stream& s) {
  bool success = true;
  (void)s.tryRead(success);
  ASSERT_FALSE(success);
}

// A peek that finds the stream empty is logged as an empty poll too.
void peek_empty(stream& s) {
  bool success = true;
  bool sop = true;
  bool eop = true;
  int empty = 5;
  (void)s.tryPeek(success, sop, eop, empty);
  ASSERT_FALSE(success);
}

// Parks `parker` on another thread and returns once it sleeps; the thread
// stores whether it was woken in `woken`.
std::thread sleep_on_thread(idle_parker& parker, bool& woken) {
  std::thread sleeper([&parker, &woken] { woken = parker.sleep(forever); });
  while (!parker.parked_now()) {
    std::this_thread::yield();
  }
  return sleeper;
}

TEST(Parking, AWriteBeforeTheParkCancelsIt) {
  stream s;
  poll_log log;
  idle_parker parker;
  logging_polls polls(log);
  poll_empty(s);
  s.write(1);
  EXPECT_FALSE(log.enlist_all(parker));  // the stream holds an element
  s.write(2);                            // nothing is enlisted: no wake-up
  EXPECT_FALSE(parker.sleep(no_pause));

  poll_log enlisted;
  stream t;
  {
    logging_polls more(enlisted);
    poll_empty(t);
  }
  ASSERT_TRUE(enlisted.enlist_all(parker));
  t.write(3);  // before the sleep: the sleep returns at once
  EXPECT_TRUE(parker.sleep(forever));
  enlisted.leave_all();
}

TEST(Parking, AWakeUpBeforeTheSleepIsKeptForItOnly) {
  idle_parker parker;
  parker.wake();
  EXPECT_TRUE(parker.sleep(forever));
  EXPECT_FALSE(parker.sleep(no_pause));
}

// One stream polled by tryRead, the other by tryPeek.
TEST(Parking, AWriteToEitherPolledStreamWakesTheSleeper) {
  for (const int written : {0, 1}) {
    SCOPED_TRACE(written);
    stream inputs[2];
    poll_log log;
    idle_parker parker;
    {
      logging_polls polls(log);
      poll_empty(inputs[0]);
      peek_empty(inputs[1]);
      poll_empty(inputs[0]);  // logged once
    }
    ASSERT_TRUE(log.enlist_all(parker));
    bool woken = false;
    std::thread sleeper = sleep_on_thread(parker, woken);
    inputs[written].write(7);
    sleeper.join();
    EXPECT_TRUE(woken);
    log.leave_all();
    inputs[1 - written].write(8);  // left: no wake-up
    EXPECT_FALSE(parker.sleep(no_pause));
  }
}

// Two components polling one stream: a write wakes both and takes both out
// of the stream's list, so the next write wakes neither; parked again, either
// one may leave first, and the next write wakes the one still parked.
TEST(Parking, AWriteWakesEveryPollerParkedOnTheStream) {
  for (const int leaves_first : {0, 1}) {
    SCOPED_TRACE(leaves_first);
    const int stays = 1 - leaves_first;
    stream shared;
    poll_log logs[2];
    idle_parker parkers[2];
    for (poll_log& log : logs) {
      logging_polls polls(log);
      poll_empty(shared);
    }
    bool woken[2] = {false, false};
    std::thread sleepers[2];
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(logs[i].enlist_all(parkers[i]));
      sleepers[i] = sleep_on_thread(parkers[i], woken[i]);
    }
    shared.write(1);
    for (std::thread& sleeper : sleepers) {
      sleeper.join();
    }
    EXPECT_TRUE(woken[0] && woken[1]);
    shared.write(2);  // both are awake and out of the list: no wake-up
    EXPECT_FALSE(parkers[0].sleep(no_pause));
    EXPECT_FALSE(parkers[1].sleep(no_pause));
    logs[leaves_first].leave_all();
    logs[stays].leave_all();

    bool taken = false;
    (void)shared.tryRead(taken);
    (void)shared.tryRead(taken);
    ASSERT_TRUE(taken);
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(logs[i].enlist_all(parkers[i]));
    }
    logs[leaves_first].leave_all();
    shared.write(3);  // wakes the one still parked
    EXPECT_TRUE(parkers[stays].sleep(forever));
    EXPECT_FALSE(parkers[leaves_first].sleep(no_pause));
    logs[stays].leave_all();
  }
}

// A stream destroyed after its empty poll leaves the log: parking must not
// touch it (AddressSanitizer reports the use of freed memory otherwise).
TEST(Parking, ADestroyedStreamIsNotEnlisted) {
  poll_log log;
  idle_parker parker;
  stream kept;
  {
    logging_polls polls(log);
    struct heap_stream final : stream {};  // final: deleting it needs no virtual destructor
    std::unique_ptr<heap_stream> gone(new heap_stream);
    poll_empty(*gone);
    poll_empty(kept);
  }
  ASSERT_TRUE(log.enlist_all(parker));
  kept.write(1);
  EXPECT_TRUE(parker.sleep(forever));
  log.leave_all();
}

}  // namespace
