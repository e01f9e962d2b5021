// main destroys streams that are its locals (members of a local struct)
// while always-running components still use them, as local_streams_test
// checks under every report and hang setting. MODE:
//   sleeping  a component sleeps in read() on `in`
//   polling   a component polls `in` with tryRead (and parks)
//   writer    a component writes to `out` in every call
//   pipeline  two components joined by `mid`, both asleep
//   shared    two components read `in` and write `out`; the bench also
//             polls `in`
// Each prints what the bench read and returns from main; the readers wait
// on their streams by then.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "HLS/diagnostics.h"
#include "HLS/hls.h"
#include "HLS/runtime.h"

namespace {

struct channel_pair {
  qrn::stream_in<int> in{"pipe.in"};
  qrn::stream_out<int> out;  // unnamed: named after its declaration
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
template <int tag>
void tagger() {  // answers each element with its tag
  (void)current->in.read();
  current->out.write(tag);
}

// Returns once `component` sleeps on, or last found empty, the stream `name`.
// Run-all lets the components get there (with fibers, only it runs them).
void await_waiting(const std::string& component, const std::string& name) {
  for (;;) {
    for (const qrn::component_report& c : qrn::snapshot_run().components) {
      if (c.name == component && (c.waiting_on == name || c.last_empty == name)) {
        return;
      }
    }
    __qrn_hls_component_run_all(nullptr);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 2 ? argv[1] : "";
  channel_pair p;
  current = &p;
  std::vector<std::pair<std::string, std::string>> waits;  // component, stream
  if (mode == "sleeping") {
    qrn::launch_always_run<doubler>();
    waits = {{"doubler", "pipe.in"}};
  } else if (mode == "polling") {
    qrn::launch_always_run<polling_doubler>();
    waits = {{"polling_doubler", "pipe.in"}};
  } else if (mode == "pipeline") {
    qrn::launch_always_run<first_stage>();
    qrn::launch_always_run<second_stage>();
    waits = {{"first_stage", "pipe.in"}, {"second_stage", "pipe.mid"}};
  } else if (mode == "shared") {
    qrn::launch_always_run<tagger<1>>();
    qrn::launch_always_run<tagger<2>>();
    waits = {{"tagger<1>", "pipe.in"}, {"tagger<2>", "pipe.in"}};
  } else if (mode == "writer") {
    qrn::launch_always_run<counter>();
  } else {
    std::fprintf(stderr, "usage: local_streams sleeping|polling|writer|pipeline|shared\n");
    return 2;
  }
  if (mode == "shared") {
    bool seen[2] = {false, false};
    for (int i = 0; !seen[0] || !seen[1]; ++i) {  // until both have answered
      p.in.write(i);
      seen[p.out.read() - 1] = true;
    }
    bool ok = false;
    (void)p.in.tryRead(ok);
    std::printf("both answered\n");
  } else {
    for (int i = 1; i <= 3 && mode != "writer"; ++i) {
      p.in.write(i);
    }
    for (int i = 0; i < 3; ++i) {
      std::printf("%d\n", p.out.read());
    }
    for (bool ok = mode != "writer"; !ok;) {  // the writer leaves its stream holding more
      (void)p.out.tryPeek(ok);
    }
  }
  for (const std::pair<std::string, std::string>& wait : waits) {
    await_waiting(wait.first, wait.second);
  }
  return 0;
}
