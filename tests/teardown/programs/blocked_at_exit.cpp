// main returns while an always-running component sleeps for good in
// read(true) on an empty stream.
#include <cstdio>

#include "HLS/hls.h"
#include "HLS/task.h"

qrn::stream_in<int> never_written;
qrn::stream_out<int> started;

void waits_forever() {
  started.write(1);
  (void)never_written.read(true);
}

int main() {
  qrn::launch_always_run<waits_forever>();
  std::printf("component started: %d\n", started.read(true));
  return 0;
}
