// One body, several always-running instances: two polling instances of
// `scale` on their own streams, a named blocking one with a struct argument,
// each launched again (equal arguments, concurrently, by value copies) with
// no new instance. Prints the results, then each component's name and
// whether it has run.
#include <cstdio>
#include <thread>

#include "HLS/diagnostics.h"
#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"

qrn::stream_in<int> in_a;
qrn::stream_out<int> out_a;
qrn::stream_in<int> in_b;
qrn::stream_out<int> out_b;
qrn::stream_in<int> in_c;
qrn::stream_out<int> out_c;

struct gain {  // no operator==: compared byte for byte
  int times;
  int plus;
};

void scale(qrn::stream_in<int>& in, qrn::stream_out<int>& out, int k) {
  bool ok = false;
  const int x = in.tryRead(ok);
  if (ok) {
    out.write(k * x);
  }
}

void affine(qrn::stream_in<int>& in, qrn::stream_out<int>& out, gain g) {
  out.write(g.times * in.read() + g.plus);
}

void entry() {
  qrn::launch_always_run<scale>(in_a, out_a, 2);
  qrn::launch_always_run<scale>(in_b, out_b, 3);
  qrn::launch_always_run<affine>(qrn::named("affine0"), in_c, out_c, gain{10, 1});
}

int sum_of(qrn::internal::stream<int>& out, int count) {
  int sum = 0;
  for (int i = 0; i < count; ++i) {
    bool ok = false;
    sum += out.tryRead(ok);
    if (!ok) {
      return -1;
    }
  }
  bool more = false;
  (void)out.tryRead(more);
  return more ? -2 : sum;
}

int main() {
  constexpr int count = 100;  // inputs 1..count on each stream
  for (int i = 1; i <= count; ++i) {
    in_a.write(i);
    in_b.write(i);
    in_c.write(i);
  }
  std::thread other(entry);
  entry();
  other.join();
  const int two = 1 + 1;
  qrn::launch_always_run<scale>(in_a, out_a, two);
  __qrn_hls_component_run_all(entry);
  entry();
  std::printf("%d %d %d\n", sum_of(out_a, count), sum_of(out_b, count), sum_of(out_c, count));
  for (const qrn::component_report& c : qrn::snapshot_run().components) {
    std::printf("%s %s\n", c.name.c_str(), c.calls > 0 && !c.task ? "runs" : "idle");
  }
}
