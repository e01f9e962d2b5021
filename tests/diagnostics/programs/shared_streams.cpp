// Streams with one reader and one writer, or with several, as
// shared_streams_test checks them.
//   one_each  a bench feeds a component and reads its results: no warning
//   shared    two components read `work` and write `results`, and the test
//             bench also tries to read `work`: one warning for each stream
#include <cstdio>
#include <cstring>

#include "HLS/hls.h"

qrn::stream_in<int> work;
qrn::stream_out<int> results;

void doubler() { results.write(2 * work.read()); }

// Answers each element with its tag.
template <int tag>
void worker() {
  (void)work.read();
  results.write(tag);
}

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "one_each") == 0) {
    qrn::launch_always_run<doubler>();
    int sum = 0;
    for (int i = 0; i < 10; ++i) {
      work.write(i);
      sum += results.read();
    }
    std::printf("sum %d\n", sum);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "shared") == 0) {
    qrn::launch_always_run<worker<1>>();
    qrn::launch_always_run<worker<2>>();
    bool seen[2] = {false, false};
    for (int i = 0; !seen[0] || !seen[1]; ++i) {  // until both have answered
      work.write(i);
      seen[results.read() - 1] = true;
    }
    bool ok = false;
    (void)work.tryRead(ok);
    std::printf("both answered\n");
    return 0;
  }
  std::fprintf(stderr, "usage: shared_streams one_each|shared\n");
  return 2;
}
