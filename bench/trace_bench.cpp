// What recording a trace (QRN_TRACE) costs per stream operation and per
// component call. Run it without and with a trace and compare the two:
//
//   build/bench/qrn_trace_bench
//   QRN_TRACE=/tmp/bench.vcd QRN_TRACE_LIMIT=4000000 build/bench/qrn_trace_bench
//
// Every scenario runs a fixed number of operations, so that a traced run
// stays within the event limit: T1 records two events per pair, T2 about ten
// per round trip, T3 none (the component keeps polling one empty stream).
// With tracing off the stream hot path pays one test of a flag per
// operation; bench/qrn_stream_bench measures that against the baseline.
//
// Usage: qrn_trace_bench [--smoke] [Google Benchmark flags]
//   --smoke  a few iterations of each scenario
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "HLS/diagnostics.h"
#include "HLS/hls.h"
#include "HLS/task.h"

namespace {

bool smoke = false;

long iterations(long full) { return smoke ? 10 : full; }

void report_per_unit(benchmark::State& state, const char* name) {
  state.counters[name] = benchmark::Counter(
      1, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// T1: one thread writes an element and takes it back with tryRead.
void write_then_try_read(benchmark::State& state) {
  qrn::stream_in<int> stream;
  int value = 0;
  bool all_returned = true;
  for (auto _ : state) {
    stream.write(value);
    bool success = false;
    all_returned = all_returned && stream.tryRead(success) == value && success;
    ++value;
  }
  if (!all_returned) {
    state.SkipWithError("tryRead did not return the element just written");
  }
  report_per_unit(state, "ns_per_pair");
}

// T2: an echo thread reads with read(true) and writes back what it got.
void blocking_ping_pong(benchmark::State& state) {
  qrn::stream_in<int> there;
  qrn::stream_out<int> back;
  std::thread echo([&there, &back] {
    for (int value = there.read(true); value >= 0; value = there.read(true)) {
      back.write(value);
    }
  });
  int value = 0;
  bool all_echoed = true;
  for (auto _ : state) {
    there.write(value);
    all_echoed = all_echoed && back.read(true) == value;
    value = (value + 1) & 0x3fffffff;
  }
  there.write(-1);
  echo.join();
  if (!all_echoed) {
    state.SkipWithError("a round trip returned another value");
  }
  report_per_unit(state, "ns_per_round_trip");
}

}  // namespace

// T3: the calls of an always-running component that polls an empty stream.
// Both have external linkage: the program exports them, and the run report
// names the component after its symbol.
qrn::stream_in<int> never_written;

void polls_forever() {
  bool success = false;
  (void)never_written.tryRead(success);
}

namespace {

std::uint64_t polls_so_far() {
  for (const qrn::component_report& component : qrn::snapshot_run().components) {
    if (component.name == "polls_forever") {
      return component.calls;
    }
  }
  return 0;
}

void component_calls(benchmark::State& state) {
  qrn::launch_always_run<polls_forever>();
  std::uint64_t calls = 0;
  for (auto _ : state) {
    const std::uint64_t before = polls_so_far();
    const auto started = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(smoke ? 1 : 100));
    calls = polls_so_far() - before;
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  }
  state.counters["ns_per_call"] = calls == 0 ? 0 : (smoke ? 1e6 : 1e8) / static_cast<double>(calls);
}

}  // namespace

int main(int argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--smoke") == 0) {
      smoke = true;
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 2;
  }
  const char* trace = std::getenv("QRN_TRACE");
  benchmark::AddCustomContext("QRN_TRACE", trace != nullptr ? trace : "(off)");
  const int repetitions = smoke ? 1 : 5;
  benchmark::RegisterBenchmark("T1_write_tryRead", write_then_try_read)
      ->Iterations(iterations(100000))
      ->Repetitions(repetitions)
      ->UseRealTime();
  benchmark::RegisterBenchmark("T2_blocking_ping_pong", blocking_ping_pong)
      ->Iterations(iterations(20000))
      ->Repetitions(repetitions)
      ->UseRealTime();
  benchmark::RegisterBenchmark("T3_component_call", component_calls)
      ->Iterations(1)
      ->Repetitions(repetitions)
      ->UseManualTime();
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
