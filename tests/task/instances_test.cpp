// Components with arguments and tasks that end, seen from whole programs.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "support/expect_runs.h"
#include "support/run_process.h"

namespace {

using qrn_test::expect_runs;

// Sums of 2i, 3i and 10i + 1 for i in 1..100; one line per instance, even
// though every instance was launched more than once.
TEST(ComponentsWithArguments, EachInstanceComputesOnItsOwnStreamsAndLaunchesOnce) {
  expect_runs({QRN_PROGRAM_ARGUMENTS}, 30,
              "10100 15150 50600\n"
              "scale(in_a, out_a, 2) runs\n"
              "scale(in_b, out_b, 3) runs\n"
              "affine0 runs\n");
}

TEST(TasksThatEnd, RunAllWaitsForThemAndEndedTasksCostNothing) {
  expect_runs({QRN_PROGRAM_TASKS}, 20,
              "results sum 500507; counted 10\n"
              "consumer: calls 1, ended\n"
              "produce(between, 1, 1000): calls 1, ended\n"
              "compute(results, 20000000): calls 1, ended\n"
              "produce(counted, 0, 5): calls 1, ended\n"
              "produce(counted, 0, 5): calls 1, ended\n"
              "wait_forever(never_written): calls 0, running\n"
              "idle while waiting: yes\n");
}

TEST(TasksThatEnd, ReportAndTraceShowEachRun) {
  const std::string trace = testing::TempDir() + "tasks_that_end_trace.json";
  const qrn_test::process_result run = qrn_test::run_process(
      {QRN_PROGRAM_TASKS}, std::chrono::seconds(30), {"QRN_REPORT=table", "QRN_TRACE=" + trace});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_NE(run.err.find("produce(between, 1, 1000)               1             1"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("  -  (ended)\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("  never_written  (task)\n"), std::string::npos) << run.err;
  std::ifstream file(trace);
  const std::string events((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
  for (const char* name :
       {"\"consumer\"", "\"produce(between, 1, 1000)\"", "\"compute(results, 20000000)\""}) {
    EXPECT_NE(events.find(name), std::string::npos) << name;
  }
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
