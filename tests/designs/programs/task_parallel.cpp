// A task-level-parallel kernel. The bench launches `kernel`, a task that
// launches the workers of its one stage: a scatter and two power-sum workers,
// the first of which launches a helper for its second lane. The bench waits
// with run-all and gathers one partial sum per lane. All streams are members
// of a struct local to main.
#include <cstdio>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"

constexpr int lanes = 4;
constexpr int per_lane = 50;

struct kernel_streams {
  qrn::stream_in<int> input;
  qrn::stream_out<int> lane[lanes];
  qrn::stream_out<long long> partial[lanes];
};

void scatter(kernel_streams& s, int count) {
  for (int i = 0; i < count; ++i) {
    s.lane[i % lanes].write(s.input.read());
  }
}

// The sum of the `power`th powers of `count` elements of `in`.
void power_sum(qrn::stream_out<int>& in, qrn::stream_out<long long>& out, int count, int power) {
  long long sum = 0;
  for (int i = 0; i < count; ++i) {
    const long long x = in.read();
    long long term = 1;
    for (int k = 0; k < power; ++k) {
      term *= x;
    }
    sum += term;
  }
  out.write(sum);
}

// Lanes `first` and `first + 1`: a helped worker hands the second lane to a
// task of its own, the other does both in turn.
void worker(kernel_streams& s, int first, bool helped) {
  const int second = first + 1;
  if (helped) {
    qrn::launch_task<power_sum>(s.lane[second], s.partial[second], per_lane, second + 1);
  }
  power_sum(s.lane[first], s.partial[first], per_lane, first + 1);
  if (!helped) {
    power_sum(s.lane[second], s.partial[second], per_lane, second + 1);
  }
}

void kernel(kernel_streams& s) {
  qrn::launch_task<scatter>(s, lanes * per_lane);
  qrn::launch_task<worker>(s, 0, true);
  qrn::launch_task<worker>(s, 2, false);
}

void entry() {}

int main() {
  kernel_streams s;
  for (int i = 0; i < lanes * per_lane; ++i) {
    s.input.write(i % 17);
  }
  qrn::launch_task<kernel>(s);
  __qrn_hls_component_run_all(entry);
  for (int k = 0; k < lanes; ++k) {
    bool ok = false;
    const long long sum = s.partial[k].tryRead(ok);
    std::printf("lane %d, power %d: %lld\n", k, k + 1, ok ? sum : -1);
  }
  return 0;
}
