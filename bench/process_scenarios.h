// Scenarios that time whole processes: S3 (the doubling pipeline, in a child
// process of the benchmark program), S7 (a whole run of the sample program
// against a trivial threaded program) and S11 (a chain of stages joined by
// streams of depth 2, with the depth and schedule settings of each variant).
#ifndef QRN_BENCH_PROCESS_SCENARIOS_H
#define QRN_BENCH_PROCESS_SCENARIOS_H

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace qrn_bench {

// S3: one child run of `options().elements` elements per iteration, in
// batches of `batch`; the time is the child's own measurement of its writes
// and drains. Register with UseManualTime().
void pipeline_in_own_process(benchmark::State& state, const std::string& implementation,
                             long batch);

// S7: runs `program` once per iteration and checks that it printed four lines
// and exited with status 0; the time is the whole run, spawn to reaping.
// Register with UseManualTime().
void whole_program_run(benchmark::State& state, const std::string& program);

// S11: one run of the chain `program` (depth_chain_child.cpp) per iteration
// with `settings` ("QRN_NAME=value") added to its environment; the time is
// the child's own measurement of its writes and reads. Register with
// UseManualTime().
void depth_chain_run(benchmark::State& state, const std::string& program,
                     const std::vector<std::string>& settings);

}  // namespace qrn_bench

#endif  // QRN_BENCH_PROCESS_SCENARIOS_H
