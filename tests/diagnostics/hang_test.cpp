// Runs that look stuck or are, seen whole (programs/stuck_run.cpp): a bench
// that computes is no hang; tasks that wait on each other are a deadlock
// whether the bench waits with run-all, for a task's end or not at all; a
// stream a task both writes and reads; a spin that uses no stream; growing
// the stream that holds the run up, not the one behind it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/report_table.h"
#include "support/run_process.h"

namespace {

using qrn_test::count;
using qrn_test::process_result;

// True when the mode runs components on fibers (a timed run does).
bool on_fibers() {
  const char* schedule = std::getenv("QRN_SCHEDULE");
  return std::getenv("QRN_TIME") != nullptr ||
         (schedule != nullptr && std::string(schedule) == "fibers");
}

process_result run(const std::string& mode, std::vector<std::string> env) {
  env.push_back("QRN_HANG_AFTER=0.1");
  return qrn_test::run_process({QRN_PROGRAM_STUCK_RUN, mode}, std::chrono::seconds(20), env);
}

const char* const ring_cycle_ping_first =
    "qrn:   the waits form a cycle: ping -> s1 -> pong -> s2 -> ping\n";
const char* const ring_cycle_pong_first =
    "qrn:   the waits form a cycle: pong -> s2 -> ping -> s1 -> pong\n";

// The ring's streams never held anything: its cycle is found from the
// tasks' arguments.
void expect_ring_cycle(const std::string& err) {
  EXPECT_EQ(count(err, ring_cycle_ping_first) + count(err, ring_cycle_pong_first), 1u) << err;
}

TEST(Hangs, ABenchInItsOwnCodeIsNoHang) {
  const process_result result = run("bench_computes", {"QRN_ON_HANG=exit"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, "sum = 40\n");
  EXPECT_EQ(result.err.find("qrn: hang"), std::string::npos) << result.err;
}

TEST(Hangs, TasksWaitingOnEachOtherAreADeadlockAtRunAll) {
  const process_result failing = run("ring_run_all", {"QRN_ON_HANG=exit"});
  EXPECT_EQ(failing.exit_status, 1) << failing.err;
  EXPECT_EQ(failing.out, "");
  qrn_test::expect_contains_all(
      failing.err, {"qrn: deadlock: tasks wait on each other and can never end (seen by run-all)\n",
                    "qrn:   component ping waits in a blocking read of s1 (qrn::stream<int>) for ",
                    "qrn:   component pong waits in a blocking read of s2 (qrn::stream<int>) for ",
                    "qrn: ending the process with status 1 (QRN_ON_HANG=exit)\n"});
  expect_ring_cycle(failing.err);
  // Without QRN_ON_HANG=exit the bench goes on, and the report comes once.
  const process_result going_on = run("ring_run_all", {});
  EXPECT_EQ(going_on.exit_status, 0) << going_on.err;
  EXPECT_EQ(going_on.out, "ping ended: 0\n");
  EXPECT_EQ(count(going_on.err, "qrn: deadlock: tasks wait on each other"), 1u) << going_on.err;
  EXPECT_NE(going_on.err.find("qrn: the run goes on; set QRN_ON_HANG=exit"), std::string::npos)
      << going_on.err;
}

TEST(Hangs, TasksWaitingOnEachOtherAreADeadlockAtTheLatestAtExit) {
  const process_result failing = run("ring_exit", {"QRN_ON_HANG=exit"});
  EXPECT_EQ(failing.exit_status, 1) << failing.err;
  EXPECT_EQ(failing.out, "ping ended: 0\n");
  EXPECT_NE(failing.err.find("qrn: deadlock: tasks wait on each other and can never end (seen as "
                             "the process ends)\n"),
            std::string::npos)
      << failing.err;
  expect_ring_cycle(failing.err);
  const process_result reported = run("ring_exit", {});
  EXPECT_EQ(reported.exit_status, 0) << reported.err;
  EXPECT_EQ(count(reported.err, "qrn: deadlock: tasks wait on each other"), 1u) << reported.err;
}

TEST(Hangs, WaitingForATaskEndsWhenItEndsAndReportsOneThatNeverDoes) {
  const process_result ended = run("pipeline_wait", {"QRN_ON_HANG=exit"});
  EXPECT_EQ(ended.exit_status, 0) << ended.err;
  EXPECT_EQ(ended.out, "ended: 11, results: 2 12 22\n");
  EXPECT_EQ(ended.err, "");
  const process_result stuck = run("ring_wait", {"QRN_ON_HANG=exit"});
  EXPECT_EQ(stuck.exit_status, 1) << stuck.err;
  EXPECT_EQ(stuck.out, "");
  qrn_test::expect_contains_all(
      stuck.err, {"qrn:   the test bench waits for task ping to end for ",
                  "qrn:   a deadlock on data: every waiting thread waits for an element\n"});
  expect_ring_cycle(stuck.err);
  // A timed run tells its mode and the cycle its clocks stopped at, not seconds.
  const bool timed = std::getenv("QRN_TIME") != nullptr;
  EXPECT_EQ(
      count(stuck.err, "qrn: hang: every clock stopped at cycle 0, and no component can run\n"),
      timed ? 1u : 0u)
      << stuck.err;
  EXPECT_EQ(count(stuck.err, "qrn: hang: no stream element has moved for "), timed ? 0u : 1u)
      << stuck.err;
  EXPECT_EQ(count(stuck.err, "(QRN_TIME=cycles: no component can run)"), timed ? 1u : 0u)
      << stuck.err;
  EXPECT_EQ(count(stuck.err, "(QRN_SCHEDULE=fibers: no component can run)"),
            on_fibers() && !timed ? 1u : 0u)
      << stuck.err;
}

TEST(Hangs, AStreamATaskBothWritesAndReadsIsNamedAsSuch) {
  const process_result result = run("self_loop", {"QRN_ON_HANG=exit"});
  EXPECT_EQ(result.exit_status, 1) << result.err;
  EXPECT_NE(result.err.find("qrn:   component echo(echoes) both writes and reads echoes: it waits "
                            "for an element that only it can write\n"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(result.err.find("the waits form a cycle"), std::string::npos) << result.err;
}

TEST(Hangs, ASpinThatUsesNoStreamIsReported) {
  const process_result result = run("spin", {"QRN_ON_HANG=exit"});
  EXPECT_EQ(result.exit_status, 1) << result.err;
  EXPECT_EQ(result.out, "");
  if (on_fibers()) {  // the fiber that never gives control back
    EXPECT_NE(result.err.find("qrn: hang: component spinner has not given control back for "),
              std::string::npos)
        << result.err;
  } else {
    qrn_test::expect_contains_all(
        result.err,
        {"qrn:   a spin: 1 component runs without using any stream, and every other thread "
         "waits\n",
         "qrn:   component spinner runs but has used no stream since elements last moved\n"});
  }
  EXPECT_NE(result.err.find("qrn: ending the process with status 1 (QRN_ON_HANG=exit)\n"),
            std::string::npos)
      << result.err;
}

TEST(Hangs, GrowGrowsTheStreamThatHoldsTheRunUpNotTheOneBehindIt) {
  // `raw` fills first, but its reader waits for room in `rows`: growing `raw`
  // would only let the bench write one element more each time.
  const process_result result = run("line_buffer", {"QRN_DEPTH=grow", "QRN_ON_HANG=exit"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, "total 368\n");
  EXPECT_EQ(count(result.err,
                  "qrn: stream rows (qrn::stream<int, qrn::buffer<7> >) had to grow: "
                  "depth 7, needed 8\n"),
            1u)
      << result.err;
  EXPECT_EQ(count(result.err, "had to grow"), 1u) << result.err;
}

}  // namespace
