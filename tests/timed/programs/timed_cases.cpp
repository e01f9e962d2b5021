// Designs whose cycle counts are known in closed form, for the timed-run
// tests. Run as `timed_cases CASE [N]`; each prints the cycles it measured
// on standard output (qrn::cycle() of the test bench, and the run report).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "HLS/diagnostics.h"
#include "HLS/hls.h"

extern "C" void __qrn_hls_component_run_all(void*);

namespace {

void add_one(qrn::stream<int>& in, qrn::stream<int>& out) { out.write(in.read() + 1); }

using depth_1 = qrn::stream<int, qrn::buffer<1>>;
using depth_2 = qrn::stream<int, qrn::buffer<2>>;
using depth_16 = qrn::stream<int, qrn::buffer<16>>;

// Reads `count` results from `out`, printing the cycle of the first and
// the cycles between the others when they are all equal.
void print_output_pace(qrn::stream<int>& out, int count) {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  std::uint64_t gap = 0;
  bool steady = true;
  for (int i = 0; i < count; ++i) {
    out.read();
    const std::uint64_t now = qrn::cycle();
    if (i == 0) {
      first = now;
    } else if (i == 1) {
      gap = now - last;
    } else {
      steady = steady && now - last == gap;
    }
    last = now;
  }
  std::printf("first output at %llu, then one every %llu cycles%s\n",
              static_cast<unsigned long long>(first), static_cast<unsigned long long>(gap),
              steady ? "" : " (not steady)");
}

std::string bottleneck() { return qrn::snapshot_run().cycles.bottleneck; }

const qrn::stream_report* stream_named(const qrn::run_report& report, const std::string& name) {
  for (const qrn::stream_report& stream : report.streams) {
    if (stream.name == name) {
      return &stream;
    }
  }
  return nullptr;
}

// Three stages of II 1, 3, 2 and latency 2, 5, 3.
void chain(int count) {
  static qrn::stream<int> feed("feed"), first("first"), second("second"), out("out");
  for (int i = 0; i < count; ++i) {
    feed.write(i);
  }
  qrn::launch_always_run<add_one>(qrn::named("fast"), qrn::timing{1, 2}, feed, first);
  qrn::launch_always_run<add_one>(qrn::timing{3, 5}, qrn::named("slow"), first, second);
  qrn::launch_always_run<add_one>(qrn::named("medium"), qrn::timing{2, 3}, second, out);
  print_output_pace(out, count);
  std::printf("bottleneck: %s\n", bottleneck().c_str());
}

// Two II-1 stages joined by a FIFO of depth D.
template <typename Link>
void joined(int count) {
  static qrn::stream<int> feed("feed"), out("out");
  static Link link("link");
  for (int i = 0; i < count; ++i) {
    feed.write(i);
  }
  qrn::launch_always_run<add_one>(qrn::named("writer"), feed, link);
  qrn::launch_always_run<add_one>(qrn::named("reader"), link, out);
  print_output_pace(out, count);
  std::printf("bottleneck: %s\n", bottleneck().c_str());
}

// Bursts of 16 elements, one per cycle, every 32 cycles, into the FIFO
// `link` (its depth set by QRN_DEPTH_OVERRIDE) that a task reads one element
// every 2 cycles.
void burst_source(qrn::stream<int>& out, int bursts) {
  for (int burst = 0; burst < bursts; ++burst) {
    for (int i = 0; i < 16; ++i) {
      out.write(i);
    }
    qrn::cycles(17);  // the next burst 17 cycles after this one's last write: 16 idle between
  }
}
void slow_sink(qrn::stream<int>& in, qrn::stream<int>& out, int elements) {
  int sum = 0;
  for (int i = 0; i < elements; ++i) {
    sum += in.read();
  }
  out.write(sum);
}
void bursts(int count) {
  qrn::stream<int> link("link");
  qrn::stream<int> result("result");
  qrn::launch_task<burst_source>(qrn::named("source"), link, count);
  qrn::launch_task<slow_sink>(qrn::named("sink"), qrn::timing{2, 1}, link, result, 16 * count);
  std::printf("sum %d", result.read());
  const qrn::run_report report = qrn::snapshot_run();
  const qrn::stream_report* link_report = stream_named(report, "link");
  std::printf(", source stalled %llu cycles, link peaked at %llu, %llu cycles\n",
              static_cast<unsigned long long>(link_report->cycles.writer_stalls),
              static_cast<unsigned long long>(link_report->cycles.peak),
              static_cast<unsigned long long>(report.cycles.total));
}

// The test bench reads an output whose stall model holds it `stall` cycles
// before each transfer.
void bench_stalls(int stall) {
  static qrn::stream<int> feed("feed");
  static qrn::stream_out<int> out;
  for (int i = 0; i < 20; ++i) {
    feed.write(i);
  }
  out.setStallCycles(static_cast<unsigned int>(stall), 0);
  qrn::launch_always_run<add_one>(qrn::named("stage"), feed, out);
  print_output_pace(out, 20);
}

// A task offers `count` elements at one per cycle to a depth-2 FIFO that a
// component reads every cycle; it prints how many offers were refused.
void offer_each_cycle(qrn::stream<int>& link, qrn::stream<int>& refusals, int count) {
  int refused = 0;
  for (int i = 0; i < count; ++i) {
    if (!link.tryWrite(i)) {
      ++refused;
    }
  }
  refusals.write(refused);
}
void offers(int count) {
  static depth_2 link("link");
  static qrn::stream<int> out("out"), refusals("refusals");
  qrn::launch_always_run<add_one>(qrn::named("reader"), link, out);
  qrn::launch_task<offer_each_cycle>(qrn::named("producer"), link, refusals, count);
  const int refused = refusals.read();
  for (int i = refused; i < count; ++i) {
    out.read();
  }
  std::printf("%d of %d offers refused, last read at %llu\n", refused, count,
              static_cast<unsigned long long>(qrn::cycle()));
}

}  // namespace

int main(int argc, char** argv) {
  const std::string which = argc > 1 ? argv[1] : "";
  const int n = argc > 2 ? std::atoi(argv[2]) : 0;
  if (which == "chain") {
    chain(n);
  } else if (which == "depth1") {
    joined<depth_1>(n);
  } else if (which == "depth2") {
    joined<depth_2>(n);
  } else if (which == "depth16") {
    joined<depth_16>(n);
  } else if (which == "bursts") {
    bursts(n);
  } else if (which == "bench_stalls") {
    bench_stalls(n);
  } else if (which == "offers") {
    offers(n);
  } else {
    std::fprintf(stderr,
                 "usage: timed_cases chain|depth1|depth2|depth16|bursts|bench_stalls|offers N\n");
    return 2;
  }
  return 0;
}
