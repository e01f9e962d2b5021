#include "pipeline_child.h"

#include <chrono>
#include <cstdio>

#include "HLS/hls.h"
#include "HLS/task.h"
#include "baseline_stream.h"

namespace {

qrn::stream_in<int> qrn_input;
qrn::stream_out<int> qrn_output;
qrn_bench::baseline_stream<int> baseline_input;
qrn_bench::baseline_stream<int> baseline_output;

int doubled(int x) { return static_cast<int>(static_cast<unsigned int>(x) << 1); }

// The sample's component: at most one element per call, never blocks.
template <typename In, In& input, typename Out, Out& output>
void doubling_component() {
  bool success = false;
  const int x = input.tryRead(success);
  if (!success) {
    return;
  }
  success = output.tryWrite(doubled(x));
}

template <typename In, In& input, typename Out, Out& output>
void component_entry() {
  qrn::launch_always_run<doubling_component<In, input, Out, output>>();
}

template <typename In, In& input, typename Out, Out& output>
int run_pipeline(long elements, long batch) {
  const auto started = std::chrono::steady_clock::now();
  long expected = 0;
  for (long first = 0; first < elements; first += batch) {
    const long end = first + batch < elements ? first + batch : elements;
    for (long value = first; value < end; ++value) {
      input.write(static_cast<int>(value));
    }
    component_entry<In, input, Out, output>();
    while (expected < end) {
      bool success = false;
      const int got = output.tryRead(success);
      if (!success) {
        continue;
      }
      if (got != doubled(static_cast<int>(expected))) {
        std::printf("element %ld came out as %d\n", expected, got);
        return 1;
      }
      ++expected;
    }
  }
  const auto elapsed = std::chrono::steady_clock::now() - started;
  std::printf("%lld\n", static_cast<long long>(
                            std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()));
  return 0;
}

}  // namespace

namespace qrn_bench {

int run_pipeline_child(const std::string& implementation, long elements, long batch) {
  if (elements <= 0 || batch <= 0) {
    std::printf("bad pipeline arguments\n");
    return 1;
  }
  if (implementation == "qrn") {
    return run_pipeline<qrn::stream_in<int>, qrn_input, qrn::stream_out<int>, qrn_output>(elements,
                                                                                          batch);
  }
  if (implementation == "baseline") {
    return run_pipeline<baseline_stream<int>, baseline_input, baseline_stream<int>,
                        baseline_output>(elements, batch);
  }
  std::printf("unknown implementation %s\n", implementation.c_str());
  return 1;
}

}  // namespace qrn_bench
