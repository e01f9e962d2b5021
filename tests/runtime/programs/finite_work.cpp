// A polling component that takes a while per element, so that handling all
// of its inputs lasts longer than a second: run-all must wait until every
// input is handled. Usage: finite_work <count> busy|sleepy: the component
// doubles each input after spinning for 2 us ("busy") or sleeping for 10 ms
// ("sleepy").
#include <chrono>
#include <thread>
#include <vector>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"
#include "runtime/programs/expect_results.h"

qrn::stream_in<int> in_stream;
qrn::stream_out<int> out_stream;
bool sleepy = false;

void works_per_element() {
  bool success = false;
  const int x = in_stream.tryRead(success);
  if (success) {
    if (sleepy) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } else {
      const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(2);
      while (std::chrono::steady_clock::now() < until) {
      }
    }
    out_stream.write(2 * x);
  }
}

void entry() { qrn::launch_always_run<works_per_element>(); }

int main(int argc, char** argv) {
  const int count = qrn_test::count_argument(argc, argv);
  sleepy = qrn_test::mode_argument(argc, argv) == "sleepy";
  std::vector<int> expected;
  for (int i = 0; i < count; ++i) {
    in_stream.write(i);
    expected.push_back(2 * i);
  }
  entry();
  __qrn_hls_component_run_all(entry);
  return qrn_test::expect_results(out_stream, expected);
}
