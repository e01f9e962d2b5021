// A C++14 test bench that paces its one component with a qrn::timing: with
// `paced`, launch_always_run<increment>(qrn::timing{3, 4}) and then the plain
// launch_always_run<increment>(), which must not launch it again; without,
// the plain launch alone. Prints the results, and the test bench's cycle
// after the last read (0 unless the run is timed).
#include <iostream>
#include <string>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"

namespace {

qrn::stream_in<int> numbers;
qrn::stream_out<int> incremented;

void increment() { incremented.write(numbers.read() + 1); }

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "paced") {
    qrn::launch_always_run<increment>(qrn::timing{3, 4});
  }
  qrn::launch_always_run<increment>();
  for (int i = 0; i < 8; ++i) {
    numbers.write(10 * i);
  }
  for (int i = 0; i < 8; ++i) {
    std::cout << incremented.read() << ' ';
  }
  std::cout << "\nlast cycle " << qrn::cycle() << '\n';
  return 0;
}
