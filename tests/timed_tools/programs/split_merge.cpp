// A split and an in-order merge: `source` sends each sample down `lap`
// (through `relay` into `lap2`) and, by parity, to `to_a` or `to_b`;
// `worker_a` (ii A, latency L) and `worker_b` (ii B, latency 4) double them
// into `from_a` and `from_b`; `merge` adds each sample from `lap2` to its
// doubled value and writes `out`, which the bench reads and sums. Every
// stream is declared with depth 2, too shallow for the merge to wait on a
// slow worker without stalling the source. With a long latency L, the
// samples in flight in worker_a must wait in `lap` or in `lap2`: either
// will do, but not both shallow.
//
//   split_merge [A [B [L [poll]]]]
// With `poll` the merge is a task that polls `from_a` and `from_b` with
// tryRead until its value comes.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "HLS/hls.h"
#include "HLS/task.h"
#include "HLS/timing.h"

namespace {

constexpr int samples = 256;

using link = qrn::stream<int, qrn::buffer<2>>;
qrn::stream_in<int> in;
link lap("lap"), lap2("lap2"), to_a("to_a"), to_b("to_b"), from_a("from_a"), from_b("from_b");
qrn::stream_out<int> out;

void source() {
  const int sample = in.read();
  lap.write(sample);
  (sample % 2 == 0 ? to_a : to_b).write(sample);
}

void relay() { lap2.write(lap.read()); }

void worker_a() { from_a.write(2 * to_a.read()); }
void worker_b() { from_b.write(2 * to_b.read()); }

void merge() {
  const int sample = lap2.read();
  out.write(sample + (sample % 2 == 0 ? from_a : from_b).read());
}

void polling_merge(int count) {
  for (int i = 0; i < count; ++i) {
    const int sample = lap2.read();
    link& from = sample % 2 == 0 ? from_a : from_b;
    bool ok = false;
    int doubled = from.tryRead(ok);
    while (!ok) {
      doubled = from.tryRead(ok);
    }
    out.write(sample + doubled);
  }
}

unsigned int number(int argc, char** argv, int at, int otherwise) {
  return static_cast<unsigned int>(argc > at ? std::atoi(argv[at]) : otherwise);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 0; i < samples; ++i) {
    in.write(i);
  }
  qrn::launch_always_run<source>();
  qrn::launch_always_run<relay>();
  qrn::launch_always_run<worker_a>(qrn::named("worker_a"),
                                   qrn::timing{number(argc, argv, 1, 1), number(argc, argv, 3, 4)});
  qrn::launch_always_run<worker_b>(qrn::named("worker_b"),
                                   qrn::timing{number(argc, argv, 2, 1), 4});
  if (argc > 4 && std::strcmp(argv[4], "poll") == 0) {
    qrn::launch_task<polling_merge>(qrn::named("merge"), samples);
  } else {
    qrn::launch_always_run<merge>(qrn::named("merge"));
  }
  long sum = 0;
  for (int i = 0; i < samples; ++i) {
    sum += out.read();
  }
  std::printf("sum %ld\n", sum);
  return 0;
}
