// A doubling component that polls its input without blocking, as the sample
// does. Usage: polling_doubler <count>. Half of the inputs are written before
// the launch and half after it, all before run-all; afterwards every doubled
// value must be in the output.
#include <vector>

#include "HLS/runtime.h"
#include "runtime/programs/expect_results.h"
#include "runtime/programs/polling_doubler_component.h"

int main(int argc, char** argv) {
  const int count = qrn_test::count_argument(argc, argv);
  std::vector<int> expected;
  for (int i = 0; i < count; ++i) {
    if (i == count / 2) {
      launch_polling_doubler();
    }
    in_stream.write(i);
    expected.push_back(2 * i);
  }
  launch_polling_doubler();
  __qrn_hls_component_run_all(launch_polling_doubler);
  return qrn_test::expect_results(out_stream, expected);
}
