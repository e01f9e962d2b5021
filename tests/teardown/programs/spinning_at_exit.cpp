// main returns while an always-running component spins, as in the sample.
// The last two lines are left unflushed: the exit must still deliver them.
#include <cstdio>
#include <iostream>

#include "HLS/runtime.h"
#include "runtime/programs/polling_doubler_component.h"

int main() {
  in_stream.write(10);
  in_stream.write(20);
  in_stream.write(40);
  launch_polling_doubler();
  __qrn_hls_component_run_all(launch_polling_doubler);
  for (int i = 0; i < 3; ++i) {
    bool success = false;
    const int x = out_stream.tryRead(success);
    std::cout << (success ? std::to_string(x) : "missing") << std::endl;
  }
  std::cout << "unflushed cout line\n";
  std::printf("unflushed printf line\n");
  return 0;
}
