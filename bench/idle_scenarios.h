// S8-S10: always-running polling components whose inputs stay empty, each
// measurement in a child process of its own (qrn_bench_idle_child). The
// "parked" variant runs as built; the "unparked" one sets
// QRN_PARK_LIMIT_US=0, which keeps every component polling as before parking
// existed.
#ifndef QRN_BENCH_IDLE_SCENARIOS_H
#define QRN_BENCH_IDLE_SCENARIOS_H

#include <benchmark/benchmark.h>

#include <string>

namespace qrn_bench {

// S8: CPU milliseconds per second that `components` idle polling components
// take together, once they have settled. Reports "cpu_ms_per_s".
void idle_components_cpu(benchmark::State& state, const std::string& program, int components,
                         bool parked);

// S9: median microseconds from a write to a component's input until its
// result is in its output, with `components` idle polling components in the
// process (the measured one included), each write a few milliseconds after
// the previous result. Reports "median_us".
void idle_component_latency(benchmark::State& state, const std::string& program, int components,
                            bool parked);

// S10: the same through one component that polls two inputs, writing to
// either in turn. Reports "first_us" and "second_us".
void two_input_latency(benchmark::State& state, const std::string& program, bool parked);

}  // namespace qrn_bench

#endif  // QRN_BENCH_IDLE_SCENARIOS_H
