// A component launched from the constructor of a global helper object (see
// launched_during_static_init_helper.cpp) before its task's worker exists.
// Usage: launched_during_static_init <count>. The launch must take effect:
// after run-all every doubled input is in the output.
#include <vector>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "runtime/programs/expect_results.h"

extern qrn::stream_in<int> in_stream;
extern qrn::stream_out<int> out_stream;

int main(int argc, char** argv) {
  const int count = qrn_test::count_argument(argc, argv);
  std::vector<int> expected;
  for (int i = 0; i < count; ++i) {
    in_stream.write(i);
    expected.push_back(2 * i);
  }
  __qrn_hls_component_run_all(nullptr);
  return qrn_test::expect_results(out_stream, expected);
}
