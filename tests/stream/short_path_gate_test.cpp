// The gate of the streams' short path: open only on the main thread of an
// untimed fibers run, closed while a trace is recorded (whichever thread
// starts it) and open again after it, and a stream keeps its contents and
// order across the change.
#include <gtest/gtest.h>

#include <thread>

#include "HLS/hls.h"
#include "HLS/internal/scheduler.h"

namespace qrn_test {
namespace {

using qrn::internal::set_tracing;
using qrn::internal::short_stream_path;

TEST(ShortPathGate, OpenOnlyOnTheMainThreadOfUntimedFibersAndNeverWhileTracing) {
  qrn::stream_in<int> stream;
  stream.write(1);  // the first operation reads the schedule
  const bool untimed_fibers = qrn::internal::fiber_scheduling() && !qrn::internal::timed_run();
  EXPECT_EQ(short_stream_path(), untimed_fibers);

  set_tracing(true);
  EXPECT_FALSE(short_stream_path());
  stream.write(2);  // the general path, traced (no recorder here: nothing kept)
  EXPECT_EQ(stream.read(), 1);
  set_tracing(false);
  EXPECT_EQ(short_stream_path(), untimed_fibers);
  stream.write(3);
  EXPECT_EQ(stream.read(), 2);
  EXPECT_EQ(stream.read(), 3);

  bool open_elsewhere = true;
  std::thread([&open_elsewhere] { open_elsewhere = short_stream_path(); }).join();
  EXPECT_FALSE(open_elsewhere);

  // A trace started and stopped by another thread closes and opens the main
  // thread's path too.
  std::thread([] { set_tracing(true); }).join();
  EXPECT_FALSE(short_stream_path());
  stream.write(4);
  std::thread([] { set_tracing(false); }).join();
  EXPECT_EQ(short_stream_path(), untimed_fibers);
  EXPECT_EQ(stream.read(), 4);
}

}  // namespace
}  // namespace qrn_test
