// main destroys streams that are its locals (members of a local struct)
// while an always-running component still uses them, as local_streams_test
// checks it under every report and hang setting:
//   sleeping  the component sleeps in read() on `in`
//   polling   the component polls `in` with tryRead (and parks)
//   writer    the component writes to `out` in every call
// Each prints what the bench read and returns from main.
#include <cstdio>
#include <cstring>

#include "HLS/hls.h"

namespace {

struct channel_pair {
  qrn::stream_in<int> in{"pipe.in"};
  qrn::stream_out<int> out;  // unnamed: stream<int>#N
};

channel_pair* current = nullptr;  // set before the launch, never changed

void doubler() { current->out.write(2 * current->in.read()); }

void polling_doubler() {
  bool ok = false;
  const int value = current->in.tryRead(ok);
  if (ok) {
    current->out.write(2 * value);
  }
}

int counted = 0;  // the counter component's own
void counter() { current->out.write(++counted); }

void feed_and_print(channel_pair& p) {
  for (int i = 1; i <= 3; ++i) {
    p.in.write(i);
  }
  for (int i = 0; i < 3; ++i) {
    std::printf("%d\n", p.out.read());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const char* mode = argc == 2 ? argv[1] : "";
  channel_pair p;
  current = &p;
  if (std::strcmp(mode, "sleeping") == 0) {
    qrn::launch_always_run<doubler>();
    feed_and_print(p);
  } else if (std::strcmp(mode, "polling") == 0) {
    qrn::launch_always_run<polling_doubler>();
    feed_and_print(p);
  } else if (std::strcmp(mode, "writer") == 0) {
    qrn::launch_always_run<counter>();
    for (int i = 0; i < 3; ++i) {
      std::printf("%d\n", p.out.read());
    }
  } else {
    std::fprintf(stderr, "usage: local_streams sleeping|polling|writer\n");
    return 2;
  }
  return 0;
}
