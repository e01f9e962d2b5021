// Designs whose cycle counts are known in closed form, for the timed-run
// tests. Run as `timed_cases CASE [N]`; each prints the cycles it measured
// on standard output (qrn::cycle() of the test bench, and the run report).
#include <cstdio>
#include <cstdlib>
#include <deque>
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

// The bench reads the results of one II-1 stage with qrn::cycles(4)
// between its reads: the bench's own pace sets the design's.
void slow_bench(int count) {
  static qrn::stream<int> feed("feed"), out("out");
  for (int i = 0; i < count; ++i) {
    feed.write(i);
  }
  qrn::launch_always_run<add_one>(qrn::named("stage"), feed, out);
  for (int i = 0; i < count; ++i) {
    out.read();
    qrn::cycles(4);
  }
  std::printf("bottleneck: %s\n", bottleneck().c_str());
}

// `stages` II-1 stages in a chain of depth-2 links, but for the one at
// `slow` (counted from 0), of II 2; the bench writes 200 elements first.
void chain_of(int stages, int slow) {
  // Final, so that the deque destroys them without a virtual destructor.
  struct link final : depth_2 {
    explicit link(const char* name) : depth_2(name) {}
  };
  static std::deque<std::string> names;
  static std::deque<link> links;
  static qrn::stream<int> feed("feed"), out("out");
  for (int i = 0; i + 1 < stages; ++i) {
    names.push_back("link" + std::to_string(i));
    links.emplace_back(names.back().c_str());
  }
  for (int i = 0; i < 200; ++i) {
    feed.write(i);
  }
  for (int i = 0; i < stages; ++i) {
    qrn::stream<int>& in = i == 0 ? feed : links[static_cast<std::size_t>(i - 1)];
    qrn::stream<int>& to = i + 1 == stages ? out : links[static_cast<std::size_t>(i)];
    qrn::launch_always_run<add_one>(qrn::named("stage" + std::to_string(i)),
                                    qrn::timing{i == slow ? 2U : 1U, 1}, in, to);
  }
  for (int i = 0; i < 200; ++i) {
    out.read();
  }
  std::printf("bottleneck: %s\n", bottleneck().c_str());
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

// Two tasks, whose writes leave after 1 and after 9 cycles, each offer
// `count` elements to a depth-1 FIFO of their own, read by a slower
// component, and then write `count` more; the bench counts what arrives.
void offer_then_write(qrn::stream<int>& link, qrn::stream<int>& refusals, int count) {
  int refused = 0;
  for (int i = 0; i < count; ++i) {
    refused += link.tryWrite(i) ? 0 : 1;
  }
  for (int i = 0; i < count; ++i) {
    link.write(i);
  }
  refusals.write(refused);
}
void two_offers(int count) {
  static depth_1 link_a("link_a"), link_b("link_b");
  static qrn::stream<int> out_a("out_a"), out_b("out_b"), refusals_a("refusals_a"),
      refusals_b("refusals_b");
  qrn::launch_always_run<add_one>(qrn::named("reader_a"), qrn::timing{3, 1}, link_a, out_a);
  qrn::launch_always_run<add_one>(qrn::named("reader_b"), qrn::timing{2, 1}, link_b, out_b);
  qrn::launch_task<offer_then_write>(qrn::named("producer_a"), qrn::timing{1, 1}, link_a,
                                     refusals_a, count);
  qrn::launch_task<offer_then_write>(qrn::named("producer_b"), qrn::timing{1, 9}, link_b,
                                     refusals_b, count);
  const int refused_a = refusals_a.read();
  const int refused_b = refusals_b.read();
  for (int i = refused_a; i < 2 * count; ++i) {
    out_a.read();
  }
  for (int i = refused_b; i < 2 * count; ++i) {
    out_b.read();
  }
  std::printf("%d and %d of %d offers refused, the rest and every write arrived\n", refused_a,
              refused_b, count);
}

// A blocking request and answer per element between a task and a
// component, both of II 1: the task writes the request at stage 0 and reads
// the answer at stage 2, the component reads the request at stage 0 and
// writes the answer at stage 1 (`staged`); or both at the default rule.
void answer(qrn::stream<int>& requests, qrn::stream<int>& answers) {
  qrn::at_stage(0);
  const int request = requests.read();
  qrn::at_stage(1);
  answers.write(request + 1);
}
void ask(qrn::stream<int>& requests, qrn::stream<int>& answers, qrn::stream<int>& sum, int count,
         bool staged) {
  int total = 0;
  for (int i = 0; i < count; ++i) {
    qrn::new_iteration();
    if (staged) {
      qrn::at_stage(0);
    }
    requests.write(i);
    if (staged) {
      qrn::at_stage(2);
    }
    total += answers.read();
  }
  sum.write(total);
}
void unstaged_answer(qrn::stream<int>& requests, qrn::stream<int>& answers) {
  answers.write(requests.read() + 1);
}
void round_trip(int count, bool staged) {
  static qrn::stream<int> requests("requests"), answers("answers"), sum("sum");
  if (staged) {
    qrn::launch_always_run<answer>(qrn::named("server"), qrn::timing{1, 1}, requests, answers);
  } else {
    qrn::launch_always_run<unstaged_answer>(qrn::named("server"), qrn::timing{1, 2}, requests,
                                            answers);
  }
  qrn::launch_task<ask>(qrn::named("client"), qrn::timing{1, 3}, requests, answers, sum, count,
                        staged);
  const int total = sum.read();
  std::printf("sum %d at %llu\n", total, static_cast<unsigned long long>(qrn::cycle()));
}

// A task whose loop alternates between two inputs and two outputs; `marked`:
// each iteration starts with qrn::new_iteration().
void alternate(qrn::stream<int>& in_a, qrn::stream<int>& in_b, qrn::stream<int>& out_a,
               qrn::stream<int>& out_b, int iterations, bool marked) {
  for (int i = 0; i < iterations; ++i) {
    if (marked) {
      qrn::new_iteration();
    }
    if (i % 2 == 0) {
      out_a.write(in_a.read());
    } else {
      out_b.write(in_b.read());
    }
  }
}
void alternating(int iterations, bool marked) {
  static qrn::stream<int> in_a("in_a"), in_b("in_b"), out_a("out_a"), out_b("out_b");
  for (int i = 0; i < iterations / 2; ++i) {
    in_a.write(i);
    in_b.write(i);
  }
  qrn::launch_task<alternate>(qrn::named("alternate"), qrn::timing{2, 1}, in_a, in_b, out_a, out_b,
                              iterations, marked);
  for (int i = 0; i < iterations / 2; ++i) {
    out_a.read();
    out_b.read();
  }
  std::printf("%d iterations, last output at %llu\n", iterations,
              static_cast<unsigned long long>(qrn::cycle()));
}

// A timer: a loop of `states` states, not pipelined, that polls `done` with
// empty() in its state 1 and counts the polls that found it empty. `done`
// comes from a component that answers `start` at latency 21.
void delay(qrn::stream<int>& start, qrn::stream<int>& done) { done.write(start.read()); }
void count_until_done(qrn::stream<int>& start, qrn::stream<int>& done, qrn::stream<int>& count) {
  qrn::at_stage(0);
  start.write(1);
  qrn::cycles(1);  // the state of the write
  int polls = 0;
  for (;;) {
    qrn::new_iteration();
    qrn::at_stage(1);
    if (!done.empty()) {
      break;
    }
    ++polls;
  }
  done.read();
  count.write(polls);
}
void timer(int states) {
  static qrn::stream<int> start("start"), done("done"), count("count");
  qrn::launch_always_run<delay>(qrn::named("delay"), qrn::timing{1, 21}, start, done);
  qrn::launch_task<count_until_done>(
      qrn::named("timer"), qrn::not_pipelined(static_cast<unsigned>(states)), start, done, count);
  const int polls = count.read();
  std::printf("%d polls found it empty; count at %llu\n", polls,
              static_cast<unsigned long long>(qrn::cycle()));
}

// A line buffer: a component (II 1, latency 3) writes each pixel into
// `line` and, from the second row on, reads back the pixel a row (`width`)
// before it, in the same call after the write.
constexpr int width = 63;
void line_step(qrn::stream<int>& pixels, qrn::stream<int>& line, qrn::stream<int>& above) {
  static int seen = 0;
  line.write(pixels.read());
  if (++seen > width) {
    above.write(line.read());
  }
}
void line_buffer(int rows) {
  static qrn::stream<int, qrn::buffer<width + 1>> line("line");
  static qrn::stream<int> pixels("pixels"), above("above");
  for (int i = 0; i < rows * width; ++i) {
    pixels.write(i);
  }
  qrn::launch_always_run<line_step>(qrn::named("line_step"), qrn::timing{1, 3}, pixels, line,
                                    above);
  for (int i = 0; i < (rows - 1) * width; ++i) {
    above.read();
  }
  const qrn::run_report report = qrn::snapshot_run();
  std::printf("line peak %llu, stalls %llu, last output at %llu\n",
              static_cast<unsigned long long>(stream_named(report, "line")->cycles.peak),
              static_cast<unsigned long long>(stream_named(report, "line")->cycles.writer_stalls),
              static_cast<unsigned long long>(qrn::cycle()));
}

// An element whose copy throws when its value is negative.
struct picky {
  explicit picky(int v = 0) : value(v) {}
  picky(const picky& other) : value(other.value) {
    if (value < 0) {
      throw value;
    }
  }
  picky& operator=(const picky&) = default;
  int value;
};

// Passes on two elements in three; the third is dropped by a write whose
// copy throws (`throwing`) or by no write at all, which must time alike.
template <bool throwing>
void drop_thirds(qrn::stream<int>& in, qrn::stream<picky>& out) {
  const int x = in.read();
  if (x % 3 != 0) {
    out.write(picky(x));
  } else if (throwing) {
    try {
      out.write(picky(-1));
    } catch (int) {
    }
  }
}
// The bench reads the outputs, taking a report halfway when `look_halfway`,
// which must change nothing either.
void dropped_writes(int count, bool throwing, bool look_halfway) {
  static qrn::stream<int> feed("feed");
  static qrn::stream<picky, qrn::buffer<2>> out("out");
  for (int i = 0; i < count; ++i) {
    feed.write(i);
  }
  if (throwing) {
    qrn::launch_always_run<drop_thirds<true>>(qrn::named("dropper"), qrn::timing{2, 3}, feed, out);
  } else {
    qrn::launch_always_run<drop_thirds<false>>(qrn::named("dropper"), qrn::timing{2, 3}, feed, out);
  }
  std::uint64_t cycles = 0;  // summed over the outputs
  for (int i = 0; i < count; ++i) {
    if (look_halfway && i == count / 2) {
      qrn::snapshot_run();
    }
    if (i % 3 != 0) {
      cycles += out.read().value == i ? qrn::cycle() : 1000000;
    }
  }
  std::printf("outputs read at %llu cycles in all\n", static_cast<unsigned long long>(cycles));
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
  } else if (which == "slow_bench") {
    slow_bench(n);
  } else if (which == "chain_of") {
    chain_of(n, argc > 3 ? std::atoi(argv[3]) : 0);
  } else if (which == "offers") {
    offers(n);
  } else if (which == "two_offers") {
    two_offers(n);
  } else if (which == "round_trip" || which == "round_trip_unstaged") {
    round_trip(n, which == "round_trip");
  } else if (which == "alternating" || which == "alternating_unmarked") {
    alternating(n, which == "alternating");
  } else if (which == "timer") {
    timer(n);
  } else if (which == "line_buffer") {
    line_buffer(n);
  } else if (which == "dropped_writes" || which == "thrown_writes" || which == "looked_halfway") {
    dropped_writes(n, which == "thrown_writes", which == "looked_halfway");
  } else {
    std::fprintf(stderr, "usage: timed_cases CASE N (the cases: see main)\n");
    return 2;
  }
  return 0;
}
