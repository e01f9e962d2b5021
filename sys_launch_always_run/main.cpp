// Sample: an always-running component that doubles integers, and the test
// bench that feeds it 10, 20 and 40 and polls its output four times.
#include <iostream>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"

qrn::stream_in<int> in_stream;
qrn::stream_out<int> out_stream;

// Handles at most one element per call and never blocks.
void my_task() {
  bool success = false;
  int x = in_stream.tryRead(success);
  if (!success) {
    return;
  }
  x = static_cast<int>(static_cast<unsigned int>(x) << 1);  // wraps in 32 bits
  success = out_stream.tryWrite(x);
}

void foo() { qrn::launch_always_run<my_task>(); }

int main() {
  in_stream.write(10);
  in_stream.write(20);
  in_stream.write(40);

  for (int i = 0; i < 100; ++i) {
    foo();
    __qrn_enqueue_handle = &__qrn_enqueue_handle;
    foo();
    __qrn_enqueue_handle = nullptr;
  }

  __qrn_hls_component_run_all(foo);

  for (int i = 0; i < 4; ++i) {
    bool success = false;
    int res = out_stream.tryRead(success);
    if (success) {
      std::cout << res << std::endl;
    } else {
      std::cout << "+ 1 Latency" << std::endl;
    }
  }
  return 0;
}
