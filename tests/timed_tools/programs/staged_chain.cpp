// A chain whose accesses sit at their pipeline stages, for the event graph's
// exactness: a task writes bursts of 16 at one per iteration, a stage of II 1
// reads at stage 0 and writes at stage 3, a stage of II 2 reads at stage 1
// and writes at stage 4, and the test bench sums what leaves. Blocking only,
// and no cycle counts read, so the graph values every depth vector.
#include <cstdio>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"
#include "HLS/timing.h"

namespace {

constexpr int elements = 200;

void produce(qrn::stream<int>& out) {
  for (int i = 0; i < elements; ++i) {
    qrn::new_iteration();
    out.write(i);
    if (i % 16 == 15) {
      qrn::cycles(20);
    }
  }
}

void double_it(qrn::stream<int>& in, qrn::stream<int>& out) {
  qrn::at_stage(0);
  const int x = in.read();
  qrn::at_stage(3);
  out.write(2 * x);
}

void add_one(qrn::stream<int>& in, qrn::stream<int>& out) {
  qrn::at_stage(1);
  const int x = in.read();
  qrn::at_stage(4);
  out.write(x + 1);
}

}  // namespace

int main() {
  static qrn::stream<int, qrn::buffer<2>> raw("raw"), doubled("doubled"), done("done");
  qrn::launch_task<produce>(qrn::named("produce"), qrn::timing{1, 1}, raw);
  qrn::launch_always_run<double_it>(qrn::named("double_it"), qrn::timing{1, 4}, raw, doubled);
  qrn::launch_always_run<add_one>(qrn::named("add_one"), qrn::timing{2, 5}, doubled, done);
  long sum = 0;
  for (int i = 0; i < elements; ++i) {
    sum += done.read();
  }
  std::printf("sum %ld\n", sum);
}
