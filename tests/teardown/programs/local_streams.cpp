// main destroys streams that are its locals (members of a local struct)
// while an always-running component still uses them, as local_streams_test
// checks it under every report and hang setting:
//   sleeping  the component sleeps in read() on `in`
//   polling   the component polls `in` with tryRead (and parks)
//   writer    the component writes to `out` in every call
//   pipeline  two components joined by a third local stream, both asleep
// Each prints what the bench read and returns from main; the readers are
// waiting on `in` (and `mid`) by then.
#include <cstdio>
#include <cstring>

#include <string>
#include <thread>

#include "HLS/diagnostics.h"
#include "HLS/hls.h"

namespace {

struct channel_pair {
  qrn::stream_in<int> in{"pipe.in"};
  qrn::stream_out<int> out;  // unnamed: stream<int>#N
  qrn::internal::stream<int> mid{"pipe.mid"};
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

void first_stage() { current->mid.write(current->in.read() + 1); }
void second_stage() { current->out.write(2 * current->mid.read()); }

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

// Returns once `component` sleeps on, or last found empty, the stream `name`.
void await_waiting(const std::string& component, const std::string& name) {
  for (;;) {
    for (const qrn::component_report& c : qrn::snapshot_run().components) {
      if (c.name == component && (c.waiting_on == name || c.last_empty == name)) {
        return;
      }
    }
    std::this_thread::yield();
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
    await_waiting("doubler", "pipe.in");
  } else if (std::strcmp(mode, "polling") == 0) {
    qrn::launch_always_run<polling_doubler>();
    feed_and_print(p);
    await_waiting("polling_doubler", "pipe.in");
  } else if (std::strcmp(mode, "pipeline") == 0) {
    qrn::launch_always_run<first_stage>();
    qrn::launch_always_run<second_stage>();
    feed_and_print(p);
    await_waiting("first_stage", "pipe.in");
    await_waiting("second_stage", "pipe.mid");
  } else if (std::strcmp(mode, "writer") == 0) {
    qrn::launch_always_run<counter>();
    for (int i = 0; i < 3; ++i) {
      std::printf("%d\n", p.out.read());
    }
  } else {
    std::fprintf(stderr, "usage: local_streams sleeping|polling|writer|pipeline\n");
    return 2;
  }
  return 0;
}
