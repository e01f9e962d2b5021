// Example: a result that depends on timing. Two polling components forward
// two sensors' readings into one stream; the test bench feeds both, lets the
// components settle and prints the merged stream. Which reading comes first
// depends on which component ran first: with threads it changes from run to
// run, with QRN_SCHEDULE=fibers it is the same on every run, and
// `qrn-explore -n 50 polling_merge` shows the seeds that change it.
#include <iostream>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"

qrn::stream_in<int> sensor_a;
qrn::stream_in<int> sensor_b;
qrn::stream_out<int> merged;

void forward_a() {
  bool ok = false;
  const int reading = sensor_a.tryRead(ok);
  if (ok) {
    merged.write(reading);
  }
}

void forward_b() {
  bool ok = false;
  const int reading = sensor_b.tryRead(ok);
  if (ok) {
    merged.write(reading);
  }
}

void entry() {
  qrn::launch_always_run<forward_a>();
  qrn::launch_always_run<forward_b>();
}

int main() {
  for (int i = 1; i <= 3; ++i) {
    sensor_a.write(i);
    sensor_b.write(10 * i);
  }
  entry();
  __qrn_hls_component_run_all(entry);
  for (int i = 0; i < 6; ++i) {
    std::cout << merged.read() << (i < 5 ? " " : "\n");
  }
  return 0;
}
