// Launch forms, local streams, polling and run-all used together, one case
// per argument; each prints what a correct run prints.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "HLS/hls.h"
#include "HLS/runtime.h"

namespace {

qrn::stream_in<int> doubled_in;
qrn::stream_out<int> doubled_out;
void doubler() { doubled_out.write(2 * doubled_in.read()); }
void produce_one(qrn::stream<int>& s) { s.write(1); }

// A local stream that only an ended task used is destroyed at once, while
// another component still runs.
void ended_task_local() {
  qrn::launch_always_run<doubler>();
  {
    qrn::stream<int> local;
    qrn::launch_task<produce_one>(local);
    std::printf("read %d\n", local.read());
  }
  std::printf("done\n");
}

constexpr int burst = 200000;
qrn::stream_out<int> from_grandchild;
void grandchild(qrn::stream<int>& out) {
  for (int i = 0; i < burst; ++i) {
    out.write(i);
  }
}
void child(qrn::stream<int>& out) { qrn::launch_task<grandchild>(out); }
void parent(qrn::stream<int>& out) { qrn::launch_task<child>(out); }

// Run-all waits for components that tasks launch while it runs.
void launched_by_tasks() {
  qrn::launch_task<parent>(from_grandchild);
  __qrn_hls_component_run_all(nullptr);
  std::printf("after run-all: %zu of %d\n", from_grandchild.get_size(), burst);
  while (!from_grandchild.empty()) {
    (void)from_grandchild.read();
  }
}

qrn::stream_out<int> polled, polled_sum;
void three_values(qrn::stream<int>& out) {
  for (int i = 0; i < 3; ++i) {
    out.write(i + 1);
  }
}
void poll_three(qrn::stream<int>& in, qrn::stream<int>& out) {
  int got = 0;
  int sum = 0;
  while (got < 3) {
    bool ok = false;
    const int v = in.tryRead(ok);
    if (ok) {
      sum += v;
      ++got;
    }
  }
  out.write(sum);
}

// A task that polls inside its one call lets the others run (fibers) and
// parks (threads).
void polling_task() {
  qrn::launch_task<poll_three>(polled, polled_sum);
  qrn::launch_task<three_values>(polled);
  __qrn_hls_component_run_all(nullptr);
  std::printf("sum %d\n", polled_sum.read());
}

void spin_on(qrn::stream<int>& s) {
  for (;;) {
    bool ok = false;
    (void)s.tryRead(ok);
  }
}

// A stream with properties destroyed while a task polls it.
void destroyed_while_polled() {
  {
    qrn::stream<int, qrn::buffer<2>> local;
    qrn::launch_task<spin_on>(local);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::printf("done\n");
}

// A free-running process with state: a round-robin merge that loops for
// ever, idle between the bench's bursts; empty() and full() as its polls.
void round_robin(qrn::stream<int>& a, qrn::stream<int>& b, qrn::stream<int>& out) {
  bool from_b = false;
  for (;;) {
    qrn::stream<int>& next = from_b ? b : a;
    if (!next.empty() && !out.full()) {
      out.write(next.read());
    }
    from_b = !from_b;
  }
}

void looping_task() {
  qrn::stream_in<int> a;
  qrn::stream_in<int> b;
  qrn::stream_out<int, qrn::buffer<4>> merged;
  qrn::launch_task<round_robin>(a, b, merged);
  long total = 0;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 10; ++i) {
      a.write(i);
      b.write(100 * i);
    }
    for (int i = 0; i < 20; ++i) {
      total += merged.read();
    }
    __qrn_hls_component_run_all(nullptr);
  }
  std::printf("merged %ld, left %d\n", total, merged.empty() ? 0 : 1);
}

void copy_block(qrn::stream<int>& in, qrn::stream<int>& out, int n) {
  for (int i = 0; i < n; ++i) {
    out.write(in.read() + 1);
  }
}

// A region called again and again: its runs, one after the other, are one
// writer and one reader of each stream; idle components on the bench's local
// streams end quietly.
void repeated_region() {
  qrn::stream_in<int> in;
  qrn::stream_out<int> out;
  qrn::stream<int> idle_in;
  qrn::stream<int> idle_out;
  long total = 0;
  for (int call = 0; call < 8; ++call) {
    for (int i = 0; i < 4; ++i) {
      in.write(i);
    }
    qrn::launch_task<copy_block>(in, out, 4);
    __qrn_hls_component_run_all(nullptr);
    for (int i = 0; i < 4; ++i) {
      total += out.read();
    }
  }
  qrn::launch_always_run<copy_block>(idle_in, idle_out, 1);
  __qrn_hls_component_run_all(nullptr);
  std::printf("total %ld\n", total);
}

void forward_forever(qrn::stream<int>& in, qrn::stream<int>& out) {
  for (;;) {
    bool ok = false;
    const int v = in.tryRead(ok);
    if (ok) {
      out.write(v);
    }
  }
}

// The bench waits for a result that never comes while the only component
// polls an empty stream: reported as a livelock.
void livelock() {
  qrn::stream_in<int> in;
  qrn::stream_out<int> out;
  qrn::launch_task<forward_forever>(in, out);
  in.write(7);
  std::printf("%d\n", out.read());
  std::fflush(stdout);
  std::printf("%d\n", out.read());
}

struct named_case {
  const char* name;
  void (*run)();
};

const named_case cases[] = {
    {"ended_task_local", &ended_task_local}, {"launched_by_tasks", &launched_by_tasks},
    {"polling_task", &polling_task},         {"destroyed_while_polled", &destroyed_while_polled},
    {"looping_task", &looping_task},         {"repeated_region", &repeated_region},
    {"livelock", &livelock},
};

}  // namespace

int main(int argc, char** argv) {
  for (const named_case& c : cases) {
    if (argc > 1 && std::strcmp(argv[1], c.name) == 0) {
      c.run();
      return 0;
    }
  }
  std::fprintf(stderr, "usage: %s CASE\n", argv[0]);
  return 2;
}
