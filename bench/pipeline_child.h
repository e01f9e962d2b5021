// S3 runs in a process of its own, because its always-running component
// keeps a core busy until the process ends. The benchmark program re-executes
// itself as `<program> --pipeline-child <qrn|baseline> <elements> <batch>`.
#ifndef QRN_BENCH_PIPELINE_CHILD_H
#define QRN_BENCH_PIPELINE_CHILD_H

#include <string>

namespace qrn_bench {

constexpr const char* pipeline_child_flag = "--pipeline-child";

// The sample's shape at scale: writes `elements` ints into the input stream
// in batches of `batch` elements, calls the component entry (which launches
// the always-running doubling component on the first call) after each batch,
// and drains the output of that batch with tryRead, checking every value.
// Prints the nanoseconds this took on standard output; returns the exit
// status (1 after a wrong value or bad arguments).
int run_pipeline_child(const std::string& implementation, long elements, long batch);

}  // namespace qrn_bench

#endif  // QRN_BENCH_PIPELINE_CHILD_H
