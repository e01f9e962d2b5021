// Components with arguments and tasks that end, seen from whole programs.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "support/expect_runs.h"
#include "support/run_process.h"

namespace {

TEST(ComponentsWithArguments, EachInstanceComputesOnItsOwnStreamsAndLaunchesOnce) {
  qrn_test::expect_runs(
      {QRN_PROGRAM_ARGUMENTS}, 30,
      "10100 15150 50600 | scale(in_a, out_a, 2) | scale(in_b, out_b, 3) | affine0 \n5 10\n");
}

const char* const tasks_output =
    "results 500507, counted 10\nconsumer: 1, ended\nproduce(between, 1, 1000): 1, ended\n"
    "compute(results, 20000000): 1, ended\nproduce(counted, 0, 5): 1, ended\n"
    "produce(counted, 0, 5): 1, ended\nwait_forever(never_written): 0, running\nidle: yes\n";

TEST(TasksThatEnd, RunAllWaitsForThemAndEndedTasksCostNothing) {
  qrn_test::expect_runs({QRN_PROGRAM_TASKS}, 20, tasks_output);
}

TEST(TasksThatEnd, ReportAndTraceShowEachRun) {
  const std::string trace = testing::TempDir() + "tasks_that_end_trace.json";
  const qrn_test::process_result run = qrn_test::run_process(
      {QRN_PROGRAM_TASKS}, std::chrono::seconds(30), {"QRN_REPORT=table", "QRN_TRACE=" + trace});
  EXPECT_EQ(run.out, tasks_output);
  EXPECT_NE(run.err.find("produce(between, 1, 1000)               1             1"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("  -  (ended)\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("  never_written  (task)\n"), std::string::npos) << run.err;
  std::ifstream file(trace);
  const std::string events((std::istreambuf_iterator<char>(file)), {});
  EXPECT_NE(events.find("\"compute(results, 20000000)\""), std::string::npos);
}

TEST(TasksThatEnd, AnExceptionEndsTheProcessLikeOneFromAnyComponent) {
  const qrn_test::process_result run = qrn_test::run_process({QRN_PROGRAM_TASKS, "throw"});
  EXPECT_EQ(run.exit_status, 70);
  EXPECT_EQ(run.out, "before\n");
  EXPECT_NE(run.err.find("qrn: component fail(never_written) ended by an uncaught exception: "
                         "std::runtime_error: boom\n"),
            std::string::npos)
      << run.err;
}

}  // namespace
