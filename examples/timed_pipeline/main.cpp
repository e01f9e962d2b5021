// Example: a three-stage pipeline with the timing of its hardware loops.
//
// `scale` multiplies each sample by a gain, `filter` sums the last three
// scaled samples and `pack` puts a sequence number beside each sum. Each stage
// is an always-running component launched with its initiation interval and
// latency (`qrn::timing{ii, latency}`): scale {1, 2}, filter {3, 5}, pack
// {2, 3}. The bench writes the samples, reads one result per sample and
// prints the results, the same in every mode.
//
// The timing changes nothing in an ordinary run. With QRN_TIME=cycles the run
// keeps a clock per component, and QRN_REPORT=table adds the cycles to the
// run report on standard error: the first result after 14 cycles (the three
// latencies and a cycle through each of the four streams), then one result
// every 3 cycles, the pace of `filter`, which the report names as the
// bottleneck.
#include <iostream>

#include "HLS/hls.h"
#include "HLS/task.h"

constexpr int samples_per_run = 12;

qrn::stream_in<int> samples;
qrn::stream<int, qrn::buffer<4>> scaled;
qrn::stream<int, qrn::buffer<4>> filtered;
qrn::stream_out<int> packed;

void scale() { scaled.write(3 * samples.read()); }

// A sum of three taps: one new sample per call, so the loop's iterations
// start 3 cycles apart in hardware (one adder shared by the taps).
void filter() {
  static int taps[3] = {0, 0, 0};
  taps[2] = taps[1];
  taps[1] = taps[0];
  taps[0] = scaled.read();
  filtered.write(taps[0] + taps[1] + taps[2]);
}

// The sequence number in the high half, the sum in the low half.
void pack() {
  static int sequence = 0;
  packed.write(sequence++ << 16 | (filtered.read() & 0xffff));
}

int main() {
  qrn::launch_always_run<scale>(qrn::timing{1, 2});
  qrn::launch_always_run<filter>(qrn::timing{3, 5});
  qrn::launch_always_run<pack>(qrn::timing{2, 3});
  for (int i = 1; i <= samples_per_run; ++i) {
    samples.write(i);
  }
  for (int i = 0; i < samples_per_run; ++i) {
    const int result = packed.read();
    std::cout << "result " << (result >> 16) << ": " << (result & 0xffff) << '\n';
  }
  return 0;
}
