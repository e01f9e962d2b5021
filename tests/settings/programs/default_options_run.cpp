// A test bench with defaults in its own source: its qrn_default_options
// returns the value of TEST_DEFAULT_OPTIONS, so that each run of a test can
// give other defaults. Prints which scheduler ran its component (the
// header-read QRN_SCHEDULE) and whether a buffer<2> stream took a third
// element (the runtime-read QRN_DEPTH).
#include <cstdlib>
#include <iostream>
#include <thread>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"

extern "C" const char* qrn_default_options() { return std::getenv("TEST_DEFAULT_OPTIONS"); }

namespace {

std::thread::id bench_thread;  // written before the launch
qrn::stream_in<int> asks;
qrn::stream_out<int> answers;  // 1: the component ran on the bench's thread
qrn::stream_in<int, qrn::buffer<2>> pair;

void where_am_i() {
  bool ok = false;
  (void)asks.tryRead(ok);
  if (ok) {
    answers.write(std::this_thread::get_id() == bench_thread ? 1 : 0);
  }
}

void entry() { qrn::launch_always_run<where_am_i>(); }

}  // namespace

int main() {
  bench_thread = std::this_thread::get_id();
  asks.write(0);
  entry();
  __qrn_hls_component_run_all(entry);
  std::cout << (answers.read() == 1 ? "fibers" : "threads") << "\n";

  const bool third_taken = pair.tryWrite(1) && pair.tryWrite(2) && pair.tryWrite(3);
  std::cout << (third_taken ? "unbounded" : "declared") << "\n";
  while (!pair._internal_cosim_empty()) {
    (void)pair.read();
  }
  return 0;
}
