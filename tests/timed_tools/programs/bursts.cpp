// A producer writes 40 bursts of 16 samples, one per cycle, each burst
// followed by 16 idle cycles, into `samples` (declared depth 2); a consumer
// task with ii 2 takes one sample every 2 cycles and writes one sum per burst
// to `sums`, which the bench reads and prints.
//
// The consumer keeps pace with the producer on average, but a burst arrives
// twice as fast as it drains: `samples` needs 9 slots for the producer never
// to wait, and any depth of at least 1 for the run to end.
//
// With an argument, the bench also passes one element through each of three
// streams of declared depth 1 that QRN_DEPTH_OVERRIDE cannot address one by
// one: "left,right" and two streams named "twin".
#include <iostream>

#include "HLS/hls.h"
#include "HLS/task.h"
#include "HLS/timing.h"

namespace {

constexpr int burst_count = 40;
constexpr int burst_length = 16;

qrn::stream<int, qrn::buffer<2>> samples;
qrn::stream<int> sums;

// One sample per call, at one call per cycle; the last of each burst also
// spends the burst's idle cycles. Stops after the last burst.
void producer() {
  static int next = 0;
  if (next == burst_count * burst_length) {
    return;
  }
  samples.write(next);
  if (++next % burst_length == 0) {
    qrn::cycles(burst_length);
  }
}

void consumer() {
  for (int burst = 0; burst < burst_count; ++burst) {
    int sum = 0;
    for (int i = 0; i < burst_length; ++i) {
      sum += samples.read();
    }
    sums.write(sum);
  }
}

}  // namespace

int main(int argc, char**) {
  if (argc > 1) {
    using declared = qrn::stream<int, qrn::buffer<1>>;
    declared comma("left,right");
    declared twin_a("twin");
    declared twin_b("twin");
    for (declared* stream : {&comma, &twin_a, &twin_b}) {
      stream->write(1);
      stream->read();
    }
  }
  qrn::launch_always_run<producer>(qrn::timing{1, 1});
  qrn::launch_task<consumer>(qrn::timing{2, 1});
  long total = 0;
  for (int burst = 0; burst < burst_count; ++burst) {
    total += sums.read();
  }
  std::cout << "total " << total << '\n';
  return 0;
}
