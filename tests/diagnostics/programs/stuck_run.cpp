// Runs that look stuck, or are, for the hang diagnosis. MODE (argv[1]):
//   bench_computes  the components wait for input while the bench spends a
//                   while in its own code between two halves of its input:
//                   not a hang
//   ring_run_all    two tasks, each reading the other's output first, and a
//                   bench that waits for them with run-all
//   ring_wait       the same ring, and a bench that waits for one task's end
//   ring_exit       the same ring, and a bench that returns at once
//   pipeline_wait   two tasks in a line that end: the wait returns
//   self_loop       a task that reads back more of a stream than it wrote
//   spin            a task spins on a flag that nothing sets while the bench
//                   waits for its output
//   line_buffer     a line buffer one element short of a row behind a
//                   shallow input stream
#include <atomic>
#include <chrono>
#include <iostream>
#include <string>
#include <thread>

#include "HLS/hls.h"
#include "HLS/runtime.h"

namespace {

qrn::stream_in<int> in;
qrn::stream_out<int> out;

void doubler() { out.write(2 * in.read()); }

qrn::stream<int> s1;
qrn::stream<int> s2;
qrn::stream<int> echoes;

// Adds one to each element of `from` into `to`, three times.
void add_one(qrn::stream<int>& from, qrn::stream<int>& to) {
  for (int i = 0; i < 3; ++i) {
    to.write(from.read() + 1);
  }
}

// Writes one element, then wants two for every one it writes back.
void echo(qrn::stream<int>& loop) {
  loop.write(1);
  for (;;) {
    const int a = loop.read();
    const int b = loop.read();
    loop.write(a + b);
  }
}

void wait_for_start(qrn::stream_out<int>& result);

constexpr int row = 8;
qrn::stream<int, qrn::buffer<2>> raw;
qrn::stream<int, qrn::buffer<row - 1>> rows;  // needs a whole row
qrn::stream<int> sums;

// Adds each pixel to the one a row above it, kept in `rows`.
void line_buffer() {
  static int pixels = 0;
  const int pixel = raw.read();
  if (++pixels > row) {
    sums.write(rows.read() + pixel);
  }
  rows.write(pixel);
}

void run_line_buffer() {
  qrn::launch_always_run<line_buffer>();
  for (int pixel = 0; pixel < 3 * row; ++pixel) {
    raw.write(pixel);
  }
  int total = 0;
  for (int i = 0; i < 2 * row; ++i) {
    total += sums.read();
  }
  std::cout << "total " << total << std::endl;
}

void run_bench_computes() {
  qrn::launch_always_run<doubler>();
  int sum = 0;
  for (int half = 0; half < 2; ++half) {
    for (int i = 1; i <= 4; ++i) {
      in.write(i);
    }
    for (int i = 0; i < 4; ++i) {
      sum += out.read();
    }
    // A slow reference model: several hang periods of the bench's own code.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    while (std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  std::cout << "sum = " << sum << std::endl;
}

void run_ring(const std::string& how) {
  qrn::task_handle ping = qrn::launch_task<add_one>(qrn::named("ping"), s1, s2);
  qrn::launch_task<add_one>(qrn::named("pong"), s2, s1);
  if (how == "ring_run_all") {
    __qrn_hls_component_run_all(nullptr);
  } else if (how == "ring_wait") {
    ping.wait();
  } else {  // looks for a result a few times (with fibers, the tasks run), then gives up
    bool found = false;
    // Under a seed a poll lets the components run only on some draws, so
    // one poll may pass them over; 64 give them their turn.
    for (int i = 0; i < 64 && !found; ++i) {
      (void)echoes.tryRead(found);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  std::cout << "ping ended: " << ping.ended() << std::endl;
}

void run_pipeline_wait() {
  qrn::task_handle first = qrn::launch_task<add_one>(qrn::named("first"), s1, s2);
  qrn::task_handle second = qrn::launch_task<add_one>(qrn::named("second"), s2, echoes);
  for (int i = 0; i < 3; ++i) {
    s1.write(10 * i);
  }
  second.wait();
  std::cout << "ended: " << first.ended() << second.ended() << ", results:";
  for (int i = 0; i < 3; ++i) {
    std::cout << " " << echoes.read();
  }
  std::cout << std::endl;
}

}  // namespace

// Nothing sets it. (Visible outside this file, so that no compiler may take
// it for a constant and drop the spin.)
std::atomic<bool> start_flag{false};

namespace {

void wait_for_start(qrn::stream_out<int>& result) {
  while (!start_flag.load()) {
  }
  result.write(1);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "bench_computes") {
    run_bench_computes();
  } else if (mode.rfind("ring_", 0) == 0) {
    run_ring(mode);
  } else if (mode == "pipeline_wait") {
    run_pipeline_wait();
  } else if (mode == "self_loop") {
    qrn::launch_task<echo>(echoes).wait();
  } else if (mode == "line_buffer") {
    run_line_buffer();
  } else if (mode == "spin") {
    qrn::launch_task<wait_for_start>(qrn::named("spinner"), out);
    const int result = out.read();
    std::cout << "result " << result << std::endl;
  }
  return 0;
}
