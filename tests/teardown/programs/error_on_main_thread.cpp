// The runtime error reporter runs on the main thread while an always-running
// component spins. Everything printed before it, flushed or not, through
// std::cout or printf, must come out first, then the error line.
#include <cstdio>
#include <iostream>

#include "runtime/programs/polling_doubler_component.h"

qrn::stream_in<int> never_written;

int main() {
  launch_polling_doubler();
  in_stream.write(21);
  std::cout << "component result: " << out_stream.read(true) << std::endl;
  std::cout << "cout line 1\n";
  std::printf("printf line 2\n");
  std::cout << "cout line 3\n";
  (void)never_written.read(false);
  std::printf("not reached\n");
  return 0;
}
