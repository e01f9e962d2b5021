#include "idle_scenarios.h"

#include <sstream>
#include <vector>

#include "bench_options.h"
#include "child_process.h"

namespace qrn_bench {

namespace {

// Runs the idle child once per iteration and stores each "<name> <value>"
// pair it prints as a counter (the median over iterations of a one-iteration
// run is the value itself).
void run_idle_child(benchmark::State& state, const std::string& program, const std::string& what,
                    int components, bool parked) {
  const std::vector<std::string> argv = {program, what, std::to_string(components),
                                         std::to_string(options().idle_samples)};
  const std::vector<std::string> env =
      parked ? std::vector<std::string>{} : std::vector<std::string>{"QRN_PARK_LIMIT_US=0"};
  for (auto _ : state) {
    const child_result run = run_child(argv, env);
    if (run.exit_status != 0) {
      state.SkipWithError(("idle child failed: " + run.out).c_str());
      return;
    }
    std::istringstream fields(run.out);
    std::string name;
    double value = 0;
    while (fields >> name >> value) {
      state.counters[name] = value;
    }
  }
}

}  // namespace

void idle_components_cpu(benchmark::State& state, const std::string& program, int components,
                         bool parked) {
  run_idle_child(state, program, "cpu", components, parked);
}

void idle_component_latency(benchmark::State& state, const std::string& program, int components,
                            bool parked) {
  run_idle_child(state, program, "latency", components, parked);
}

void two_input_latency(benchmark::State& state, const std::string& program, bool parked) {
  run_idle_child(state, program, "either", 1, parked);
}

}  // namespace qrn_bench
