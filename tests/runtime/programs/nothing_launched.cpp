// Run-all with no component launched: it returns, and it neither calls the
// component entry nor starts the component behind it.
#include <cstdio>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"

qrn::stream_in<int> in_stream;
qrn::stream_out<int> out_stream;
bool entry_called = false;

void doubler() {
  bool success = false;
  const int x = in_stream.tryRead(success);
  if (success) {
    out_stream.write(2 * x);
  }
}

void entry() {
  entry_called = true;
  qrn::launch_always_run<doubler>();
}

int main() {
  in_stream.write(1);
  in_stream.write(2);
  __qrn_hls_component_run_all(entry);
  std::printf("entry called: %s, inputs left: %zu, outputs: %zu\n", entry_called ? "yes" : "no",
              in_stream.get_size(), out_stream.get_size());
  return 0;
}
