// A test bench, built as C++14 and as C++17, that paces its one component
// with a qrn::timing: with `paced`, launch_always_run<increment>(qrn::timing{3,
// 4}) (in C++14 followed by the plain launch_always_run<increment>(), which
// must not launch it again); with `zero` or `huge`, a timing out of range, which the
// launch rejects; else the plain launch alone. Prints the results, and the
// test bench's cycle after the last read (0 unless the run is timed).
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
  const std::string how = argc > 1 ? argv[1] : "";
  if (how == "paced") {
    qrn::launch_always_run<increment>(qrn::timing{3, 4});
#if __cplusplus < 201703L
    qrn::launch_always_run<increment>();  // launched already: does nothing
#endif
  } else if (how == "zero") {
    qrn::launch_always_run<increment>(qrn::timing{0, 4});
  } else if (how == "huge") {
    qrn::launch_always_run<increment>(qrn::timing{2, 5000000});
  } else {
    qrn::launch_always_run<increment>();
  }
  for (int i = 0; i < 8; ++i) {
    numbers.write(10 * i);
  }
  for (int i = 0; i < 8; ++i) {
    std::cout << incremented.read() << ' ';
  }
  std::cout << "\nlast cycle " << qrn::cycle() << '\n';
  return 0;
}
