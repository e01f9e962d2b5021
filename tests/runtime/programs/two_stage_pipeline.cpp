// Two always-running components in a row: stage 1 polls the input and adds
// one, stage 2 sleeps in read(true) on the stream between them and doubles.
// Usage: two_stage_pipeline <count>.
#include <vector>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"
#include "runtime/programs/expect_results.h"

qrn::stream_in<int> in_stream;
qrn::internal::stream<int> between;
qrn::stream_out<int> out_stream;

void add_one() {
  bool success = false;
  const int x = in_stream.tryRead(success);
  if (success) {
    between.write(x + 1);
  }
}

void double_it() { out_stream.write(2 * between.read(true)); }

void entry() {
  qrn::launch_always_run<double_it>();
  qrn::launch_always_run<add_one>();
}

int main(int argc, char** argv) {
  const int count = qrn_test::count_argument(argc, argv);
  std::vector<int> expected;
  for (int i = 0; i < count; ++i) {
    in_stream.write(i);
    expected.push_back(2 * (i + 1));
  }
  entry();
  __qrn_hls_component_run_all(entry);
  return qrn_test::expect_results(out_stream, expected);
}
