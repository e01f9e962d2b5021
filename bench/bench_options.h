// Sizes of the benchmark scenarios: full runs, or a smoke run that only
// checks that every scenario works.
#ifndef QRN_BENCH_BENCH_OPTIONS_H
#define QRN_BENCH_BENCH_OPTIONS_H

#include <chrono>

namespace qrn_bench {

struct bench_options {
  int rounds = 5;                           // rounds of all scenarios
  long elements = 1000000;                  // S2 and S3: elements per run
  long batch = 1000;                        // S3 batched: elements per batch
  std::chrono::milliseconds blocked{1000};  // S5: how long the reader blocks
  int process_runs = 20;                    // S7: program runs per round
  int pipeline_runs = 1;                    // S2, S3: runs per round
  double min_seconds = 0.2;                 // the quick scenarios: time per round
  int idle_samples = 100;                   // S8: 10 ms steps measured; S9, S10: writes timed
};

inline bench_options smoke_options() {
  bench_options smoke;
  smoke.rounds = 1;
  smoke.elements = 20000;
  smoke.blocked = std::chrono::milliseconds(20);
  smoke.process_runs = 2;
  smoke.pipeline_runs = 1;
  smoke.min_seconds = 0.001;
  smoke.idle_samples = 3;
  return smoke;
}

// The options of this run; set once by main before any benchmark runs.
bench_options& options();

}  // namespace qrn_bench

#endif  // QRN_BENCH_BENCH_OPTIONS_H
