// A doubling component that polls its input without blocking, as the sample
// does. Usage: polling_doubler <count>. Half of the inputs are written before
// the launch and half after it, all before run-all; afterwards every doubled
// value must be in the output.
#include <vector>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"
#include "runtime/programs/expect_results.h"

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

int main(int argc, char** argv) {
  const int count = qrn_test::count_argument(argc, argv);
  std::vector<int> expected;
  for (int i = 0; i < count; ++i) {
    if (i == count / 2) {
      entry();
    }
    in_stream.write(i);
    expected.push_back(2 * i);
  }
  entry();
  __qrn_hls_component_run_all(entry);
  return qrn_test::expect_results(out_stream, expected);
}
