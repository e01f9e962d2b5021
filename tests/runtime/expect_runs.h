// Runs a program repeatedly as a child and checks every run.
#ifndef QRN_TESTS_RUNTIME_EXPECT_RUNS_H
#define QRN_TESTS_RUNTIME_EXPECT_RUNS_H

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/run_process.h"

namespace qrn_test {

// Runs `argv` `runs` times, each within `limit`, and expects each run to exit
// with `status`, print exactly `out` and leave no sanitizer report on standard
// error. Stops at the first run that differs.
inline void expect_runs(const std::vector<std::string>& argv, int runs, const std::string& out,
                        int status = 0,
                        std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  for (int run = 0; run < runs; ++run) {
    const process_result result = run_process(argv, limit);
    SCOPED_TRACE("run " + std::to_string(run) + " of " + argv[0]);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.term_signal, 0);
    EXPECT_EQ(result.exit_status, status);
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("runtime error"), std::string::npos) << result.err;
    if (testing::Test::HasFailure()) {
      return;
    }
  }
}

}  // namespace qrn_test

#endif  // QRN_TESTS_RUNTIME_EXPECT_RUNS_H
