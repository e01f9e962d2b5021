// S1's loop without Google Benchmark, for instruction counts: one thread
// writes an element and takes it back with tryRead, `pairs` times, on a
// qrn::stream_in<int> or on the baseline stream (baseline_stream.h). Under
// `valgrind --tool=callgrind`, the difference between two counts of pairs
// gives the instructions of one pair, whatever the load.
//
// Usage: qrn_bench_pair_loop qrn|baseline <pairs>
// Prints the sum of the elements taken; exits 1 when one did not come back.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "HLS/hls.h"
#include "baseline_stream.h"

namespace {

template <typename Stream>
__attribute__((noinline)) int run_pairs(Stream& stream, long pairs) {
  long long sum = 0;
  for (long i = 0; i < pairs; ++i) {
    const int value = static_cast<int>(i);
    stream.write(value);
    bool success = false;
    const int got = stream.tryRead(success);
    if (!success || got != value) {
      std::printf("pair %ld: %s %d\n", i, success ? "got" : "nothing", got);
      return 1;
    }
    sum += got;
  }
  std::printf("%lld\n", sum);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string side = argc == 3 ? argv[1] : "";
  const long pairs = argc == 3 ? std::atol(argv[2]) : 0;
  if (pairs < 1) {
    std::printf("usage: %s qrn|baseline <pairs>\n", argv[0]);
    return 1;
  }
  if (side == "qrn") {
    static qrn::stream_in<int> stream;
    return run_pairs(stream, pairs);
  }
  if (side == "baseline") {
    static qrn_bench::baseline_stream<int> stream;
    return run_pairs(stream, pairs);
  }
  std::printf("unknown side %s\n", side.c_str());
  return 1;
}
