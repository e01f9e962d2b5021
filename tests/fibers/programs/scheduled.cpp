// Whole programs for the fiber scheduler's tests; the first argument picks one.
//   merge      two polling components merge two inputs into one stream: the
//              order printed depends on the schedule
//   chain      three blocking stages and three finite task invocations: the
//              result does not depend on the schedule
//   deadlock   the test bench and a component each wait for a stream that
//              nobody writes
//   overflow   a component that recurses until its stack overflows
//   off_thread a second thread writes to a stream
//   drain      the test bench writes 100 numbers for a component to double,
//              then, without run-all, takes the results while a tryRead, an
//              empty() or a tryPeek finds one: the counts depend on the
//              schedule (the fixed order has them all)
//   handover   two writer tasks share a stream of depth 2 whose reader task
//              also waits on a stream of depth 2 that the test bench fills;
//              the bench takes the sums by blocking reads and by polls, runs
//              the components once and waits for the tasks. Everyone prints
//              what it does, so the output is the schedule (run it with
//              QRN_DEPTH=declared)
//   held       a writer task fills a stream of depth 2 whose reader task
//              first waits on a stream that nobody writes, while the test
//              bench waits for the reader's output (with QRN_DEPTH=declared)
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"

namespace {

qrn::stream_in<int> left_in;
qrn::stream_in<int> right_in;
qrn::stream_out<int> merged;

void left_copier() {
  bool ok = false;
  const int x = left_in.tryRead(ok);
  if (ok) {
    merged.write(x);
  }
}

void right_copier() {
  bool ok = false;
  const int x = right_in.tryRead(ok);
  if (ok) {
    merged.write(x);
  }
}

int merge() {
  for (int i = 1; i <= 4; ++i) {
    left_in.write(i);
    right_in.write(100 + i);
  }
  qrn::launch_always_run<left_copier>();
  qrn::launch_always_run<right_copier>();
  __qrn_hls_component_run_all(nullptr);
  for (int i = 0; i < 8; ++i) {
    std::printf("%d%s", merged.read(), i < 7 ? " " : "\n");
  }
  return 0;
}

qrn::stream_in<int> chain_in;
qrn::stream_in<int> chain_mid;
qrn::stream_in<int> chain_last;
qrn::stream_out<int> chain_out;
qrn::stream_out<int> sums;

void add_one() { chain_mid.write(chain_in.read() + 1); }
void times_two() { chain_last.write(chain_mid.read() * 2); }
void minus_three() { chain_out.write(chain_last.read() - 3); }

// A task invocation that ends: sums ten elements of chain_out.
void sum_ten() {
  int sum = 0;
  for (int i = 0; i < 10; ++i) {
    sum += chain_out.read();
  }
  sums.write(sum);
}

int chain() {
  qrn::launch_always_run<add_one>();
  qrn::launch_always_run<times_two>();
  qrn::launch_always_run<minus_three>();
  for (int invocation = 0; invocation < 3; ++invocation) {
    qrn::internal::task<qrn::internal::VoidFuncTy, sum_ten, true>::launch<0>();
  }
  for (int i = 0; i < 30; ++i) {
    chain_in.write(i);
  }
  int total = 0;
  for (int invocation = 0; invocation < 3; ++invocation) {
    total += sums.read();
  }
  std::printf("total %d\n", total);
  return 0;
}

qrn::stream_in<int> never_written;
qrn::stream_out<int> stuck_out;

void stuck_stage() { stuck_out.write(never_written.read()); }

int deadlock() {
  qrn::launch_always_run<stuck_stage>();
  std::printf("waiting\n");
  std::fflush(stdout);
  return stuck_out.read();
}

}  // namespace

// Outside the anonymous namespace: the overflow line names it as written.
qrn::stream_in<int> depth_in;

int deeper(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  return depth == 0 ? frame[0] : deeper(depth - 1) + frame[0];
}

void deep_recursion() {
  const int depth = depth_in.read();
  depth_in.write(deeper(depth));
}

namespace {

int overflow() {
  qrn::launch_always_run<deep_recursion>();
  depth_in.write(1 << 20);
  __qrn_hls_component_run_all(nullptr);
  return 0;
}

qrn::stream_in<int> shared_stream("shared_stream");

int off_thread() {
  shared_stream.write(1);
  std::thread other([] { shared_stream.write(2); });
  other.join();
  return 0;
}

qrn::stream_in<int> to_double;
qrn::stream_out<int> doubled;

void doubler() { doubled.write(2 * to_double.read()); }

constexpr int drained_numbers = 100;

// Writes the numbers, then counts the results `take` gets until it gets none.
template <typename Take>
int count_drained(Take take) {
  for (int i = 0; i < drained_numbers; ++i) {
    to_double.write(i);
  }
  int count = 0;
  while (take()) {
    ++count;
  }
  return count;
}

int drain() {
  qrn::launch_always_run<doubler>();
  bool ok = false;
  const int by_try_read = count_drained([&ok] { return (void)doubled.tryRead(ok), ok; });
  __qrn_hls_component_run_all(doubler);
  while ((void)doubled.tryRead(ok), ok) {
  }
  const int by_empty = count_drained([] { return !doubled.empty() && doubled.read() >= 0; });
  __qrn_hls_component_run_all(doubler);
  while ((void)doubled.tryRead(ok), ok) {
  }
  const int by_try_peek = count_drained([&ok] {
    (void)doubled.tryPeek(ok);
    return ok && doubled.read() >= 0;
  });
  std::printf("tryRead %d, empty %d, tryPeek %d\n", by_try_read, by_empty, by_try_peek);
  return 0;
}

qrn::stream<int, qrn::buffer<2>> shared_lane;
qrn::stream<int, qrn::buffer<2>> bench_lane;
qrn::stream<int> lane_sums;

void lane_writer(int first) {
  for (int i = first; i < first + 4; ++i) {
    shared_lane.write(i);
    std::printf("wrote %d\n", i);
  }
}

void lane_reader() {
  for (int i = 0; i < 8; ++i) {
    const int from_writer = shared_lane.read();
    const int from_bench = bench_lane.read();
    std::printf("read %d and %d\n", from_writer, from_bench);
    lane_sums.write(from_writer + from_bench);
  }
}

int handover() {
  const qrn::task_handle first = qrn::launch_task<lane_writer>(100);
  const qrn::task_handle second = qrn::launch_task<lane_writer>(200);
  const qrn::task_handle reader = qrn::launch_task<lane_reader>();
  int taken = 0;
  for (int i = 0; i < 8; ++i) {
    bench_lane.write(1000 * i);
    std::printf("bench wrote %d\n", 1000 * i);
    if (i % 2 == 0) {
      std::printf("bench took %d\n", lane_sums.read());
      ++taken;
      continue;
    }
    bool ok = false;
    const int sum = lane_sums.tryRead(ok);
    if (ok) {
      std::printf("bench polled %d\n", sum);
      ++taken;
    } else {
      std::printf("bench polled nothing\n");
    }
    if (i == 3) {
      __qrn_hls_component_run_all(nullptr);
      std::printf("bench ran the components\n");
    }
  }
  first.wait();
  second.wait();
  reader.wait();
  std::printf("tasks ended\n");
  for (; taken < 8; ++taken) {
    std::printf("bench took %d\n", lane_sums.read());
  }
  return 0;
}

qrn::stream<int, qrn::buffer<2>> held_lane;
qrn::stream<int> never_fed;
qrn::stream<int> held_out;

void held_writer() {
  for (int i = 1; i <= 3; ++i) {
    held_lane.write(i);
  }
}

void held_reader() { held_out.write(never_fed.read() + held_lane.read()); }

int held() {
  qrn::launch_task<held_writer>();
  qrn::launch_task<held_reader>();
  std::printf("waiting\n");
  std::fflush(stdout);
  return held_out.read();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string scenario = argc > 1 ? argv[1] : "";
  if (scenario == "merge") {
    return merge();
  }
  if (scenario == "chain") {
    return chain();
  }
  if (scenario == "deadlock") {
    return deadlock();
  }
  if (scenario == "overflow") {
    return overflow();
  }
  if (scenario == "off_thread") {
    return off_thread();
  }
  if (scenario == "handover") {
    return handover();
  }
  if (scenario == "held") {
    return held();
  }
  if (scenario == "drain") {
    return drain();
  }
  std::fprintf(stderr, "usage: %s merge|chain|deadlock|overflow|off_thread|drain|handover|held\n",
               argv[0]);
  return 2;
}
