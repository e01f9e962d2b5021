// A feedback accumulator that relies on bounded FIFOs. `moving_sum` keeps its
// running total in a one-element feedback stream and the last four inputs in
// a four-element window stream: when the window refuses a write, it is full,
// and its oldest input leaves the total. With unbounded streams no write is
// ever refused and the result would be the prefix sums, so the program asks
// for declared depths by default; the environment may still override that.
#include <cstdio>

#include "HLS/hls.h"
#include "HLS/task.h"

extern "C" const char* qrn_default_options() { return "QRN_DEPTH=declared"; }

constexpr int inputs = 12;

qrn::stream_in<int> samples;
qrn::stream_out<int, qrn::buffer<4>> window;
qrn::stream_out<long long, qrn::buffer<1>> total;
qrn::stream_out<long long> sums;

void moving_sum(qrn::stream_in<int>& in, qrn::stream_out<int>& last_inputs,
                qrn::stream_out<long long>& running, qrn::stream_out<long long>& out) {
  const int x = in.read();
  long long sum = running.read() + x;
  if (!last_inputs.tryWrite(x)) {
    sum -= last_inputs.read();
    last_inputs.write(x);
  }
  running.write(sum);
  out.write(sum);
}

int main() {
  total.write(0);
  qrn::launch_always_run<moving_sum>(samples, window, total, sums);
  for (int i = 1; i <= inputs; ++i) {
    samples.write(i * i);
  }
  std::printf("moving sums of 4:");
  for (int i = 0; i < inputs; ++i) {
    std::printf(" %lld", sums.read());
  }
  std::printf("\n");
  return 0;
}
