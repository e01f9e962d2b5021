// How a process with always-running components ends: each program runs 100
// times as a child and must always print exactly its output, end with its
// status within the run limit, and leave no sanitizer report.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/expect_runs.h"

namespace {

using qrn_test::expect_runs;

constexpr int runs = 100;
// Every program here ends well under a second; the limit catches a hang or
// an exit that waits for a worker thread, with room for sanitizer start-up.
constexpr std::chrono::seconds run_limit{5};

const std::string error_line =
    "Error: Cannot do a blocking read from an empty stream on an x86 target\n";

TEST(Teardown, MainReturnsWhileAComponentSpins) {
  expect_runs({QRN_PROGRAM_SPINNING_AT_EXIT}, runs,
              "20\n40\n80\nunflushed cout line\nunflushed printf line\n", 0, run_limit);
}

TEST(Teardown, MainReturnsWhileAComponentSleepsInABlockingRead) {
  expect_runs({QRN_PROGRAM_BLOCKED_AT_EXIT}, runs, "component started: 1\n", 0, run_limit);
}

TEST(Teardown, ErrorOnTheMainThreadWhileAComponentSpins) {
  expect_runs({QRN_PROGRAM_ERROR_ON_MAIN_THREAD}, runs,
              "component result: 42\ncout line 1\nprintf line 2\ncout line 3\n" + error_line, 1,
              run_limit);
}

TEST(Teardown, ErrorOnAWorkerThreadWhileMainSleepsInABlockingRead) {
  expect_runs({QRN_PROGRAM_ERROR_ON_WORKER_THREAD}, runs,
              "cout line before the launch\nprintf line before the launch\n" + error_line, 1,
              run_limit);
}

TEST(Teardown, NeverLaunchedTaskKeepsAnIdleWorkerAndExitsCleanly) {
  expect_runs({QRN_PROGRAM_IDLE_WORKER}, runs, "worker thread found: yes\nother threads idle\n", 0,
              run_limit);
}

}  // namespace
