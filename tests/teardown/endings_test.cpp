// Endings that meet and components that throw, run as children of the
// endings program. In the races main returns 0 while a component makes a
// fatal read; the moment of the read is swept across main's return. Exactly
// one ending may win: the bench's lines and status 0, or the bench's lines,
// the error line and status 1, never a mix, a signal, a hang or a line on
// standard error other than the library's own "qrn: " diagnostics (a static
// destructor, a sanitizer report, an abort).
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <string>

#include "support/expect_runs.h"
#include "support/run_process.h"
#include "support/sanitized.h"

namespace {

using qrn_test::sanitized;

const std::string bench_lines = "cout line\nprintf line\n";
const std::string error_line =
    "Error: Cannot do a blocking read from an empty stream on an x86 target\n";

// How long main spins before it returns, once the reader runs: the
// sanitizers lengthen the reader's way to the error line.
constexpr long main_lead_ns = sanitized ? 200000 : 50000;

// Runs `endings <mode> <delay> <lead>` `runs` times with the reader's delay
// swept from 0 to twice main's lead, and expects one sound ending every time.
// The first run keeps ThreadSanitizer's full watch at exit.
void expect_one_ending(const std::string& mode, int runs) {
  std::unique_ptr<qrn_test::short_tsan_exit_watch> short_watch;
  int error_endings = 0;
  for (int run = 0; run < runs; ++run) {
    if (run == 1) {
      short_watch.reset(new qrn_test::short_tsan_exit_watch);
    }
    const std::string delay_ns = std::to_string(2 * main_lead_ns * run / runs);
    const qrn_test::process_result result =
        qrn_test::run_process({QRN_PROGRAM_ENDINGS, mode, delay_ns, std::to_string(main_lead_ns)},
                              std::chrono::seconds(10));
    SCOPED_TRACE("run " + std::to_string(run) + ": endings " + mode + " " + delay_ns);
    const bool error_ending = result.out == bench_lines + error_line;
    error_endings += error_ending ? 1 : 0;
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.term_signal, 0);
    EXPECT_TRUE(error_ending || result.out == bench_lines) << result.out;
    EXPECT_EQ(result.exit_status, error_ending ? 1 : 0);
    for (const std::string& line : qrn_test::lines_of(result.err)) {
      EXPECT_EQ(line.compare(0, 5, "qrn: "), 0) << result.err;
    }
    if (testing::Test::HasFailure()) {
      return;
    }
  }
  std::cout << mode << ": " << error_endings << " of " << runs << " runs ended by the error\n";
}

TEST(Endings, FatalReadAsMainReturns) { expect_one_ending("fatal", sanitized ? 80 : 300); }

// The exit is held up flushing a pipe to a slow reader while another
// component keeps using its streams; each run lasts at least 0.1 s.
TEST(Endings, FatalReadAsMainReturnsWhileTheExitIsHeldUp) {
  expect_one_ending("two-endings", sanitized ? 30 : 100);
}

TEST(Endings, ExceptionEscapingAComponentEndsTheProcessWithStatus70) {
  const qrn_test::short_tsan_exit_watch short_watch;
  struct thrower {
    const char* mode;
    const char* component;
    const char* exception;
  };
  for (const thrower& t :
       {thrower{"runtime-error", "throws_runtime_error", "std::runtime_error: boom"},
        thrower{"int", "throws_int", "int"}}) {
    for (int run = 0; run < 5; ++run) {
      const qrn_test::process_result result =
          qrn_test::run_process({QRN_PROGRAM_ENDINGS, t.mode}, std::chrono::seconds(10));
      SCOPED_TRACE(std::string("endings ") + t.mode);
      EXPECT_EQ(result.term_signal, 0);
      EXPECT_EQ(result.exit_status, 70);
      EXPECT_EQ(result.out, bench_lines);
      EXPECT_EQ(result.err, std::string("qrn: component ") + t.component +
                                " ended by an uncaught exception: " + t.exception + "\n");
      if (testing::Test::HasFailure()) {
        return;
      }
    }
  }
}

}  // namespace
