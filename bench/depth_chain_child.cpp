// S11's child: a source, four stages each adding 1, and the test bench,
// joined by five streams: source -> stage 1 -> ... -> stage 4 -> test bench.
// The source and the stages are tasks with counted loops; the test bench
// reads every element and checks it. The settings of the run pick the depths
// (QRN_DEPTH=declared with QRN_DEPTH_DEFAULT=2 holds each writer up at two
// elements) and the schedule (QRN_SCHEDULE).
//
// Usage: qrn_bench_depth_chain <elements>
// Prints the nanoseconds from the launch of the source to the last checked
// read on standard output; exits 1 after a wrong element (printing which).
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "HLS/hls.h"
#include "HLS/task.h"

namespace {

constexpr int stages = 4;

qrn::stream_in<int> links[stages + 1];  // stage i reads links[i - 1], writes links[i]

int element(long i) { return static_cast<int>(i % 1000003); }

void source(qrn::stream_in<int>& out, long elements) {
  for (long i = 0; i < elements; ++i) {
    out.write(element(i));
  }
}

void stage(qrn::stream_in<int>& in, qrn::stream_in<int>& out, long elements) {
  for (long i = 0; i < elements; ++i) {
    out.write(in.read() + 1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const long elements = argc == 2 ? std::atol(argv[1]) : 0;
  if (elements < 1) {
    std::printf("usage: %s <elements>\n", argv[0]);
    return 1;
  }
  const auto started = std::chrono::steady_clock::now();
  for (int i = 1; i <= stages; ++i) {
    qrn::launch_task<stage>(links[i - 1], links[i], elements);
  }
  qrn::launch_task<source>(links[0], elements);
  for (long i = 0; i < elements; ++i) {
    const int got = links[stages].read();
    if (got != element(i) + stages) {
      std::printf("element %ld came out as %d\n", i, got);
      return 1;
    }
  }
  const auto elapsed = std::chrono::steady_clock::now() - started;
  std::printf("%lld\n", static_cast<long long>(
                            std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()));
  return 0;
}
