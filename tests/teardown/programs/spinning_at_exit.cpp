// main returns while an always-running component spins, as in the sample.
// The last two lines are left unflushed: the exit must still deliver them.
#include <cstdio>
#include <iostream>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"

qrn::stream_in<int> in_stream;
qrn::stream_out<int> out_stream;

void doubler() {
  bool success = false;
  const int x = in_stream.tryRead(success);
  if (success) {
    success = out_stream.tryWrite(2 * x);
  }
}

void entry() { qrn::launch_always_run<doubler>(); }

int main() {
  in_stream.write(10);
  in_stream.write(20);
  in_stream.write(40);
  entry();
  __qrn_hls_component_run_all(entry);
  for (int i = 0; i < 3; ++i) {
    bool success = false;
    const int x = out_stream.tryRead(success);
    std::cout << (success ? std::to_string(x) : "missing") << std::endl;
  }
  std::cout << "unflushed cout line\n";
  std::printf("unflushed printf line\n");
  return 0;
}
