// Components with arguments and tasks that end, seen from whole programs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "support/expect_runs.h"
#include "support/run_process.h"

namespace {

TEST(ComponentsWithArguments, EachInstanceComputesOnItsOwnStreamsAndLaunchesOnce) {
  qrn_test::expect_runs(
      {QRN_PROGRAM_ARGUMENTS}, 30,
      "10100 15150 50600 | scale(in_a, out_a, 2) | scale(in_b, out_b, 3) | affine0 \n5 10\n");
}

TEST(ComponentsWithArguments, ByteSizedIntegersShowAsNumbers) {
  const qrn_test::process_result run = qrn_test::run_process(
      {QRN_PROGRAM_ARGUMENTS, "bytes"}, std::chrono::seconds(30), {"QRN_REPORT=table"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "| tune(in_a, 3, -2, 0, 7, 10, true) \n");
  EXPECT_NE(run.err.find("\ntune(in_a, 3, -2, 0, 7, 10, true) "), std::string::npos) << run.err;
  const auto unprintable = std::find_if(run.err.begin(), run.err.end(), [](char c) {
    return c != '\n' && std::isprint(static_cast<unsigned char>(c)) == 0;
  });
  EXPECT_EQ(unprintable, run.err.end()) << run.err;
}

// launch_always_run<f>(qrn::timing{...}) in a C++14 and a C++17 test bench:
// the same results, in a timed run a slower pace than the default's, and a
// timing out of range rejected at launch in every run.
TEST(ComponentsWithArguments, ATimingPacesAComponentInCxx14AndIsCheckedAtLaunch) {
  // The C++17 form with a timing launches an instance, shown with its (empty) argument list.
  for (const auto& built : {std::make_pair(QRN_PROGRAM_PACED_CXX14, "increment"),
                            std::make_pair(QRN_PROGRAM_PACED_CXX17, "increment()")}) {
    const char* program = built.first;
    const char* shown_as = built.second;
    SCOPED_TRACE(program);
    const auto run = [program](const char* how) {
      const qrn_test::process_result result =
          qrn_test::run_process({program, how}, std::chrono::seconds(30));
      EXPECT_EQ(result.exit_status, 0) << result.err;
      EXPECT_EQ(result.err, "");
      const std::string results = "1 11 21 31 41 51 61 71 \nlast cycle ";
      EXPECT_EQ(result.out.compare(0, results.size(), results), 0) << result.out;
      return result.out.size() > results.size() ? std::stoul(result.out.substr(results.size())) : 0;
    };
    const unsigned long paced = run("paced");
    const unsigned long plain = run("plain");
    if (std::getenv("QRN_TIME") != nullptr) {
      // Eight results at an interval of 3 take more than 21 cycles; at 1, fewer.
      EXPECT_GT(paced, 21u);
      EXPECT_LT(plain, 21u);
    } else {
      EXPECT_EQ(paced, 0u);
      EXPECT_EQ(plain, 0u);
    }
    for (const auto& bad :
         {std::make_pair("zero",
                         "{0, 4}: expected an initiation interval and a latency of at "
                         "least 1 cycle\n"),
          std::make_pair("huge",
                         "{2, 5000000}: expected an initiation interval and a latency "
                         "of at most 1048576 cycles\n")}) {
      const qrn_test::process_result rejected =
          qrn_test::run_process({program, bad.first}, std::chrono::seconds(30));
      EXPECT_EQ(rejected.exit_status, 2);
      EXPECT_EQ(rejected.out, "");
      EXPECT_EQ(rejected.err, std::string("qrn: component ") + shown_as +
                                  " launched with qrn::timing" + bad.second);
    }
  }
}

const char* const tasks_output =
    "results 500507, counted 10\nconsumer: 1, ended\nproduce(between, 1, 1000): 1, ended\n"
    "compute(results, 20000000): 1, ended\nproduce(counted, 0, 5): 1, ended\n"
    "produce(counted, 0, 5): 1, ended\nwait_forever(never_written): 0, running\nidle: yes\n";

TEST(TasksThatEnd, RunAllWaitsForThemAndEndedTasksCostNothing) {
  qrn_test::expect_runs({QRN_PROGRAM_TASKS}, 20, tasks_output);
}

TEST(TasksThatEnd, ReportAndTraceShowEachRun) {
  // One file per process: the mode matrix runs this test in several modes at once.
  const std::string trace =
      testing::TempDir() + "tasks_that_end_trace_" + std::to_string(::getpid()) + ".json";
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

struct together_case {
  const char* name;
  const char* out;
};

// Each case fails without its mend: a destructor waiting for an ended task,
// run-all missing components launched by tasks, a poller that never lets
// the producer run (fibers), a data race on the dispatch pointer (TSan), a
// looping task that keeps run-all waiting, "has 8 writers" and "destroyed
// while ... waited" noise on a normal end.
const together_case together_cases[] = {
    {"ended_task_local", "read 1\ndone\n"},
    {"launched_by_tasks", "after run-all: 200000 of 200000\n"},
    {"polling_task", "sum 6\n"},
    {"destroyed_while_polled", "done\n"},
    {"looping_task", "merged 13635, left 0\n"},
    {"repeated_region", "total 80\n"},
};

TEST(FeaturesTogether, EachCaseEndsAtOnceWithItsResultAndNoNoise) {
  for (const together_case& c : together_cases) {
    for (int run = 0; run < 5; ++run) {
      const qrn_test::process_result result =
          qrn_test::run_process({QRN_PROGRAM_FEATURES, c.name}, std::chrono::seconds(60));
      EXPECT_FALSE(result.timed_out) << c.name;
      EXPECT_EQ(result.exit_status, 0) << c.name << "\n" << result.err;
      EXPECT_EQ(result.out, c.out) << c.name;
      EXPECT_EQ(result.err.find("qrn:"), std::string::npos) << c.name << "\n" << result.err;
      EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos) << c.name << "\n" << result.err;
      if (HasFailure()) {
        return;
      }
    }
  }
}

TEST(FeaturesTogether, ALivelockIsReportedWithThePollerAndItsStream) {
  const qrn_test::process_result result =
      qrn_test::run_process({QRN_PROGRAM_FEATURES, "livelock"}, std::chrono::seconds(60),
                            {"QRN_ON_HANG=exit", "QRN_HANG_AFTER=0.3"});
  EXPECT_EQ(result.exit_status, 1) << result.err;
  EXPECT_EQ(result.out, "7\n");
  EXPECT_NE(result.err.find("qrn:   a livelock: no component waits, and every one that runs only "
                            "polls streams that stay empty\n"),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find(" keeps polling; the last stream it found empty: "), std::string::npos)
      << result.err;
}

}  // namespace
