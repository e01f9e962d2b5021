// A newcomer's four-lane bench: one loader task per lane, one scaler instance
// per lane (an always-running component with arguments), and two collector
// tasks, each polling two lanes. Every stream is local to main, which prints
// the total and returns while the scalers still wait for input.
#include <cstdio>

#include "HLS/hls.h"
#include "HLS/task.h"

constexpr int lanes = 4;
constexpr int per_lane = 25;

void load(qrn::stream<int>& out, int first, int count) {
  for (int i = 0; i < count; ++i) {
    out.write(first + i);
  }
}

void scale(qrn::stream<int>& in, qrn::stream<int>& out, int factor) {
  out.write(in.read() * factor);
}

void collect(qrn::stream<int>& a, qrn::stream<int>& b, qrn::stream<int>& totals, int count) {
  int sum = 0;
  int got = 0;
  while (got < count) {
    bool ok = false;
    int x = a.tryRead(ok);
    if (ok) {
      sum += x;
      ++got;
    }
    x = b.tryRead(ok);
    if (ok) {
      sum += x;
      ++got;
    }
  }
  totals.write(sum);
}

int main() {
  qrn::stream<int> raw[lanes];
  qrn::stream<int, qrn::buffer<2>> scaled[lanes];
  qrn::stream<int> totals;
  for (int lane = 0; lane < lanes; ++lane) {
    qrn::launch_task<load>(raw[lane], lane * 100, per_lane);
    qrn::launch_always_run<scale>(raw[lane], scaled[lane], lane + 1);
  }
  qrn::launch_task<collect>(scaled[0], scaled[1], totals, 2 * per_lane);
  qrn::launch_task<collect>(scaled[2], scaled[3], totals, 2 * per_lane);
  const int total = totals.read() + totals.read();
  std::printf("total %d\n", total);
  return 0;
}
