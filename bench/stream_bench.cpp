// Benchmarks of qrn::stream_in/stream_out against a straightforward
// implementation of the same design (baseline_stream.h), with the floors a
// stream cannot beat. The implementations run interleaved, in the same
// process, in several rounds; the summary gives per scenario the median over
// rounds of the ratio to the reference measured within the round.
//
// Usage: qrn_stream_bench [--smoke] [--rounds=N] [Google Benchmark flags]
//   --smoke     one short round of every scenario; exits 1 if a check fails
//   --rounds=N  number of rounds (default 5)
// For instance `qrn_stream_bench --benchmark_filter=S11` runs only the chain
// of four stages (depth_chain_child.cpp): streams of depth 2 against
// unbounded ones, with threads and with fibers, in wall-clock nanoseconds per
// element.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <functional>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "HLS/hls.h"
#include "HLS/task.h"
#include "bench_options.h"
#include "idle_scenarios.h"
#include "pipeline_child.h"
#include "process_scenarios.h"
#include "round_report.h"
#include "stream_scenarios.h"

namespace qrn_bench {

bench_options& options() {
  static bench_options current;
  return current;
}

namespace {

// Floor of S1: the queue work alone.
void deque_push_pop(benchmark::State& state) {
  std::deque<int> queue;
  int value = 0;
  for (auto _ : state) {
    queue.push_back(value++);
    benchmark::DoNotOptimize(queue.front());
    queue.pop_front();
  }
  report_per_unit(state, "ns_per_pair", 1);
}

// Floor of every locked operation: one uncontended lock and unlock.
void lock_unlock(benchmark::State& state) {
  std::mutex mutex;
  for (auto _ : state) {
    mutex.lock();
    benchmark::ClobberMemory();
    mutex.unlock();
  }
  report_per_unit(state, "ns_per_lock", 1);
}

// tryPeek of a stream holding one element: one uncontended lock and a copy,
// to set against floor_lock_unlock.
void try_peek(benchmark::State& state) {
  qrn::stream_in<int> stream;
  stream.write(7);
  bool ok = false;
  for (auto _ : state) {
    benchmark::DoNotOptimize(stream.tryPeek(ok));
  }
  if (!ok) {
    state.SkipWithError("tryPeek found the stream empty");
  }
  (void)stream.tryRead(ok);  // leaves nothing for the end-of-run warnings
  report_per_unit(state, "ns_per_peek", 1);
}

// The component of S6 blocks for good in read(true), so it costs no CPU. Its
// stream is built before the launch, as the streams of a test bench are: the
// process then ends before static destructors could pull it from under the
// blocked reader.
qrn::stream_in<int> never_written;

void idle_component() { (void)never_written.read(true); }

// S6: launch_always_run once the component runs.
void launch_always_run_again(benchmark::State& state) {
  qrn::launch_always_run<idle_component>();
  for (auto _ : state) {
    qrn::launch_always_run<idle_component>();
    benchmark::ClobberMemory();
  }
  report_per_unit(state, "ns_per_call", 1);
}

using benchmark_fn = std::function<void(benchmark::State&)>;
using configure_fn = std::function<void(benchmark::internal::Benchmark*)>;

struct variant {
  std::string implementation;
  benchmark_fn run;
};

// Registers the variants of one scenario; odd rounds register them in reverse
// order, so that neither always runs first.
void register_scenario(const std::string& name, std::vector<variant> variants,
                       const configure_fn& configure, bool reverse) {
  if (reverse) {
    std::reverse(variants.begin(), variants.end());
  }
  for (const variant& each : variants) {
    configure(benchmark::RegisterBenchmark((name + "/" + each.implementation).c_str(), each.run));
  }
}

void register_round(bool reverse) {
  const bench_options& opts = options();
  const configure_fn quick = [&opts](benchmark::internal::Benchmark* b) {
    b->UseRealTime()->MinTime(opts.min_seconds);
  };
  const configure_fn threaded_runs = [&opts](benchmark::internal::Benchmark* b) {
    b->UseRealTime()->Iterations(opts.pipeline_runs);
  };
  const configure_fn process_runs = [&opts](benchmark::internal::Benchmark* b) {
    b->UseManualTime()->Iterations(opts.pipeline_runs);
  };
  const configure_fn once = [](benchmark::internal::Benchmark* b) {
    b->UseRealTime()->Iterations(1);
  };

  register_scenario("floor_deque_push_pop", {{"std", deque_push_pop}}, quick, reverse);
  register_scenario("floor_lock_unlock", {{"std", lock_unlock}}, quick, reverse);
  register_scenario("tryPeek", {{"qrn", try_peek}}, quick, reverse);
  register_scenario("S1_write_tryRead",
                    {{"qrn", write_then_try_read<qrn_streams>},
                     {"baseline", write_then_try_read<baseline_streams>}},
                    quick, reverse);
  register_scenario("S2_producer_spinning_consumer",
                    {{"qrn", producer_to_spinning_consumer<qrn_streams>},
                     {"baseline", producer_to_spinning_consumer<baseline_streams>}},
                    threaded_runs, reverse);
  for (const long batch : {opts.elements, opts.batch}) {
    const std::string name = batch == opts.elements ? "S3_pipeline" : "S3_pipeline_batched";
    register_scenario(
        name,
        {{"qrn", [batch](benchmark::State& s) { pipeline_in_own_process(s, "qrn", batch); }},
         {"baseline",
          [batch](benchmark::State& s) { pipeline_in_own_process(s, "baseline", batch); }}},
        process_runs, reverse);
  }
  register_scenario("S4_blocking_ping_pong",
                    {{"qrn", blocking_ping_pong<qrn_streams>},
                     {"baseline", blocking_ping_pong<baseline_streams>}},
                    quick, reverse);
  register_scenario("S5_blocked_reader",
                    {{"qrn", blocked_reader_cpu<qrn_streams>},
                     {"baseline", blocked_reader_cpu<baseline_streams>}},
                    once, reverse);
  register_scenario("S6_launch_always_run_again", {{"qrn", launch_always_run_again}}, quick,
                    reverse);
  register_scenario("S6_empty_stream",
                    {{"qrn", empty_stream_memory<qrn_streams>},
                     {"baseline", empty_stream_memory<baseline_streams>}},
                    quick, reverse);
#if defined(QRN_IDLE_CHILD_PROGRAM)
  for (const int components : {1, 64}) {
    const std::string count = std::to_string(components);
    register_scenario("S8_idle_cpu_" + count,
                      {{"parked",
                        [components](benchmark::State& s) {
                          idle_components_cpu(s, QRN_IDLE_CHILD_PROGRAM, components, true);
                        }},
                       {"unparked",
                        [components](benchmark::State& s) {
                          idle_components_cpu(s, QRN_IDLE_CHILD_PROGRAM, components, false);
                        }}},
                      once, reverse);
    register_scenario("S9_wake_latency_" + count,
                      {{"parked",
                        [components](benchmark::State& s) {
                          idle_component_latency(s, QRN_IDLE_CHILD_PROGRAM, components, true);
                        }},
                       {"unparked",
                        [components](benchmark::State& s) {
                          idle_component_latency(s, QRN_IDLE_CHILD_PROGRAM, components, false);
                        }}},
                      once, reverse);
  }
  register_scenario(
      "S10_two_inputs",
      {{"parked", [](benchmark::State& s) { two_input_latency(s, QRN_IDLE_CHILD_PROGRAM, true); }},
       {"unparked",
        [](benchmark::State& s) { two_input_latency(s, QRN_IDLE_CHILD_PROGRAM, false); }}},
      once, reverse);
#endif
#if defined(QRN_DEPTH_CHAIN_PROGRAM)
  const auto chain = [](std::vector<std::string> settings) {
    return
        [settings](benchmark::State& s) { depth_chain_run(s, QRN_DEPTH_CHAIN_PROGRAM, settings); };
  };
  register_scenario("S11_depth_chain",
                    {{"threads_unbounded", chain({"QRN_SCHEDULE=threads", "QRN_DEPTH=unbounded"})},
                     {"threads_declared",
                      chain({"QRN_SCHEDULE=threads", "QRN_DEPTH=declared", "QRN_DEPTH_DEFAULT=2"})},
                     {"fibers_unbounded", chain({"QRN_SCHEDULE=fibers", "QRN_DEPTH=unbounded"})},
                     {"fibers_declared",
                      chain({"QRN_SCHEDULE=fibers", "QRN_DEPTH=declared", "QRN_DEPTH_DEFAULT=2"})}},
                    process_runs, reverse);
#endif
#if defined(QRN_SAMPLE_PROGRAM) && defined(QRN_TRIVIAL_PROGRAM)
  const configure_fn program_runs = [&opts](benchmark::internal::Benchmark* b) {
    b->UseManualTime()->Iterations(opts.process_runs);
  };
  register_scenario(
      "S7_whole_program",
      {{"sample", [](benchmark::State& s) { whole_program_run(s, QRN_SAMPLE_PROGRAM); }},
       {"trivial", [](benchmark::State& s) { whole_program_run(s, QRN_TRIVIAL_PROGRAM); }}},
      program_runs, reverse);
#endif
}

const std::vector<scenario_summary>& summary_lines() {
  static const std::vector<scenario_summary> lines = {
      {"floor_deque_push_pop", "ns_per_pair", "ns/pair", "std", "", 0, 0},
      {"floor_lock_unlock", "ns_per_lock", "ns/lock", "std", "", 0, 0},
      {"tryPeek", "ns_per_peek", "ns/peek", "qrn", "", 0, 0},
      {"S1_write_tryRead", "ns_per_pair", "ns/pair", "qrn", "baseline", 1.0, 0},
      {"S2_producer_spinning_consumer", "ns_per_elem", "ns/elem", "qrn", "baseline", 0.6, 0},
      {"S3_pipeline", "ns_per_elem", "ns/elem", "qrn", "baseline", 0.6, 0},
      {"S3_pipeline_batched", "ns_per_elem", "ns/elem", "qrn", "baseline", 0.6, 0},
      {"S4_blocking_ping_pong", "ns_per_round_trip", "ns/round trip", "qrn", "baseline", 0.05, 0},
      {"S5_blocked_reader", "cpu_us_per_s", "CPU us/s blocked", "qrn", "baseline", 0, 100},
      {"S6_launch_always_run_again", "ns_per_call", "ns/call", "qrn", "", 0, 2},
      {"S6_empty_stream", "object_bytes", "object bytes", "qrn", "baseline", 0, 0},
      {"S6_empty_stream", "heap_bytes", "heap bytes", "qrn", "baseline", 0, 0},
      {"S7_whole_program", "ns_per_run", "ns/run", "sample", "trivial", 1.3, 0},
      {"S8_idle_cpu_1", "cpu_ms_per_s", "CPU ms/s", "parked", "unparked", 0, 10},
      {"S8_idle_cpu_64", "cpu_ms_per_s", "CPU ms/s", "parked", "unparked", 0, 50},
      {"S9_wake_latency_1", "median_us", "us", "parked", "unparked", 0, 100},
      {"S9_wake_latency_64", "median_us", "us", "parked", "unparked", 0, 100},
      {"S10_two_inputs", "first_us", "us, first input", "parked", "unparked", 0, 100},
      {"S10_two_inputs", "second_us", "us, second input", "parked", "unparked", 0, 100},
      {"S11_depth_chain", "ns_per_elem", "ns/elem", "threads_declared", "threads_unbounded", 3.0,
       0},
      {"S11_depth_chain", "ns_per_elem", "ns/elem", "fibers_declared", "fibers_unbounded", 0, 0},
  };
  return lines;
}

// Takes this program's own flags out of argv; false on a bad flag.
bool take_own_flags(int& argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--smoke") {
      options() = smoke_options();
    } else if (arg.compare(0, 9, "--rounds=") == 0) {
      options().rounds = std::atoi(arg.c_str() + 9);
      if (options().rounds < 1) {
        return false;
      }
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  return true;
}

}  // namespace

}  // namespace qrn_bench

int main(int argc, char** argv) {
  using namespace qrn_bench;
  if (argc == 5 && std::string(argv[1]) == pipeline_child_flag) {
    return run_pipeline_child(argv[2], std::atol(argv[3]), std::atol(argv[4]));
  }
  if (!take_own_flags(argc, argv)) {
    std::cerr << "usage: " << argv[0] << " [--smoke] [--rounds=N] [benchmark flags]\n";
    return 2;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 2;
  }
  round_reporter reporter;
  for (int round = 0; round < options().rounds; ++round) {
    reporter.start_round(round);
    benchmark::ClearRegisteredBenchmarks();
    register_round(round % 2 == 1);
    benchmark::RunSpecifiedBenchmarks(&reporter);
  }
  reporter.summarise(summary_lines(), std::cout);
  std::cout.flush();
  return reporter.any_error() ? 1 : 0;
}
