// A component that moves an element on every call, so it never goes quiet:
// run-all must give up and return. Usage: never_quiet writes|loops, where
// "writes" appends to a stream nobody reads and "loops" reads its own
// output back. Prints "returned" once run-all has returned.
#include <cstdio>
#include <string>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"

qrn::internal::stream<int> sink;
qrn::internal::stream<int> loop;

void writes_forever() { sink.write(1); }

void reads_own_output() {
  bool success = false;
  const int x = loop.tryRead(success);
  if (success) {
    loop.write(x);
  }
}

void writer_entry() { qrn::launch_always_run<writes_forever>(); }
void loop_entry() { qrn::launch_always_run<reads_own_output>(); }

int main(int argc, char** argv) {
  void (*entry)() = argc > 1 && std::string(argv[1]) == "loops" ? loop_entry : writer_entry;
  loop.write(7);
  entry();
  __qrn_hls_component_run_all(entry);
  std::printf("returned\n");
  return 0;
}
