// The runtime error reporter runs on an always-running component's worker
// thread while main sleeps in read(true). The process must end with the
// error line and status 1 rather than hang.
#include <cstdio>
#include <iostream>

#include "HLS/hls.h"
#include "HLS/task.h"

qrn::stream_in<int> in_stream;
qrn::stream_out<int> out_stream;

void reads_without_waiting() { out_stream.write(in_stream.read(false)); }

int main() {
  std::cout << "cout line before the launch\n";
  std::printf("printf line before the launch\n");
  qrn::launch_always_run<reads_without_waiting>();
  (void)out_stream.read(true);
  std::printf("not reached\n");
  return 0;
}
