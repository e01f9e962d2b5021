#include "process_scenarios.h"

#include <algorithm>
#include <cstdlib>

#include "bench_options.h"
#include "child_process.h"
#include "pipeline_child.h"
#include "stream_scenarios.h"

namespace qrn_bench {

namespace {

// Runs `argv` with `env` added to its environment once per iteration; the
// time is the nanoseconds the child printed, for `options().elements`
// elements.
void time_child_runs(benchmark::State& state, const std::vector<std::string>& argv,
                     const std::vector<std::string>& env) {
  for (auto _ : state) {
    const child_result run = run_child(argv, env);
    if (run.exit_status != 0) {
      state.SkipWithError((argv[0] + " failed: " + run.out).c_str());
      break;
    }
    state.SetIterationTime(std::strtod(run.out.c_str(), nullptr) * 1e-9);
  }
  report_per_unit(state, "ns_per_elem", static_cast<double>(options().elements));
}

}  // namespace

void pipeline_in_own_process(benchmark::State& state, const std::string& implementation,
                             long batch) {
  time_child_runs(state,
                  {own_executable(), pipeline_child_flag, implementation,
                   std::to_string(options().elements), std::to_string(batch)},
                  {});
}

void whole_program_run(benchmark::State& state, const std::string& program) {
  for (auto _ : state) {
    const child_result run = run_child({program});
    if (run.exit_status != 0 || std::count(run.out.begin(), run.out.end(), '\n') != 4) {
      state.SkipWithError((program + " did not print four lines and exit 0: " + run.out).c_str());
      break;
    }
    state.SetIterationTime(run.wall_seconds);
  }
  report_per_unit(state, "ns_per_run", 1);
}

void depth_chain_run(benchmark::State& state, const std::string& program,
                     const std::vector<std::string>& settings) {
  time_child_runs(state, {program, std::to_string(options().elements)}, settings);
}

}  // namespace qrn_bench
