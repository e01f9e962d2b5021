// A doubling component that sleeps in read(true) while its input is empty.
// Usage: blocking_doubler <count> launch-first|write-first. With launch-first
// the component is asleep when the inputs arrive.
#include <vector>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"
#include "runtime/programs/expect_results.h"

qrn::stream_in<int> in_stream;
qrn::stream_out<int> out_stream;

void doubler() { out_stream.write(2 * in_stream.read(true)); }

void entry() { qrn::launch_always_run<doubler>(); }

int main(int argc, char** argv) {
  const int count = qrn_test::count_argument(argc, argv);
  const bool launch_first = qrn_test::mode_argument(argc, argv) == "launch-first";
  if (launch_first) {
    entry();
  }
  std::vector<int> expected;
  for (int i = 0; i < count; ++i) {
    in_stream.write(i);
    expected.push_back(2 * i);
  }
  entry();
  __qrn_hls_component_run_all(entry);
  return qrn_test::expect_results(out_stream, expected);
}
