// Runs a program repeatedly as a child and checks every run.
#ifndef QRN_TESTS_SUPPORT_EXPECT_RUNS_H
#define QRN_TESTS_SUPPORT_EXPECT_RUNS_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "support/run_process.h"

namespace qrn_test {

// ThreadSanitizer keeps a process that still has threads alive for a second
// at exit, watching for races during the exit. Sets, for the children run
// while it lives, a shorter watch unless TSAN_OPTIONS already sets one.
// Not thread-safe: create it while the test runs no other threads.
class short_tsan_exit_watch {
 public:
  short_tsan_exit_watch() {
    const char* options = std::getenv("TSAN_OPTIONS");
    had_options_ = options != nullptr;
    saved_ = had_options_ ? options : "";
    if (saved_.find("atexit_sleep_ms") == std::string::npos) {
      setenv("TSAN_OPTIONS", (saved_ + (had_options_ ? ":" : "") + "atexit_sleep_ms=20").c_str(),
             1);
    }
  }
  ~short_tsan_exit_watch() {
    if (had_options_) {
      setenv("TSAN_OPTIONS", saved_.c_str(), 1);
    } else {
      unsetenv("TSAN_OPTIONS");
    }
  }
  short_tsan_exit_watch(const short_tsan_exit_watch&) = delete;
  short_tsan_exit_watch& operator=(const short_tsan_exit_watch&) = delete;

 private:
  bool had_options_;
  std::string saved_;
};

// Runs `argv` `runs` times, each within `limit`, and expects each run to exit
// with `status`, print exactly `out` and leave no sanitizer report on standard
// error. Stops at the first run that differs. The first run keeps
// ThreadSanitizer's full watch at exit; the others shorten it. `env` is passed
// to run_process.
inline void expect_runs(const std::vector<std::string>& argv, int runs, const std::string& out,
                        int status = 0, std::chrono::milliseconds limit = std::chrono::seconds(30),
                        const std::vector<std::string>& env = {}) {
  std::unique_ptr<short_tsan_exit_watch> short_watch;
  for (int run = 0; run < runs; ++run) {
    if (run == 1) {
      short_watch.reset(new short_tsan_exit_watch);
    }
    const process_result result = run_process(argv, limit, env);
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

#endif  // QRN_TESTS_SUPPORT_EXPECT_RUNS_H
