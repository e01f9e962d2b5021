// Bounded stream depths seen from whole runs of programs/depth_run.cpp: the
// three modes on a cycle of two components, tryWrite on a full stream, a
// by-pointer write that waits, depths by name, bad settings, and wake-ups
// for room that reach every sleeping writer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/expect_runs.h"
#include "support/report_table.h"
#include "support/run_process.h"

namespace {

using qrn_test::count;
using qrn_test::process_result;

// With hang looks every 0.1 s, ThreadSanitizer's default second-long watch at
// exit, while the components still sleep, would pass for a hang.
process_result run(const std::string& scenario, std::vector<std::string> env) {
  const qrn_test::short_tsan_exit_watch short_watch;
  env.insert(env.end(), {"QRN_HANG_AFTER=0.1", "QRN_ON_HANG=exit"});
  return qrn_test::run_process({QRN_PROGRAM_DEPTH_RUN, scenario}, std::chrono::seconds(60), env);
}

const std::string cycle_results =
    "round 1: ping got 21, pong got 201\nround 2: ping got 63, pong got 603\n";

TEST(Depth, UnboundedRunsTheCycleAndWarnsOfEachStreamPastItsDepth) {
  const process_result result = run("cycle", {"QRN_DEPTH_DEFAULT=2"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, cycle_results);
  qrn_test::expect_contains_all(
      result.err,
      {"qrn: warning: stream ping_to_pong (qrn::internal::stream<int>) peaked at 3 elements; its "
       "declared depth 2 would have held up its writer\n",
       "qrn: warning: stream pong_to_ping (qrn::internal::stream<int>) peaked at 3 elements"});
  EXPECT_EQ(count(result.err, "peaked at"), 2u) << result.err;
}

// A chain cannot deadlock on depth, however far its producers run ahead, and
// neither can a stream the test bench writes: their peaks are figures of the
// report, not warnings.
TEST(Depth, StreamsOfAChainPastTheirDepthGetNoWarning) {
  for (const char* report : {"QRN_REPORT=summary", "QRN_REPORT=table"}) {
    const process_result result = run("chain", {report});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, "total 72\n");
    EXPECT_EQ(count(result.err, "warning"), 0u) << result.err;
  }
  const char* depth = std::getenv("QRN_DEPTH");
  if ((depth == nullptr || std::string(depth) == "unbounded") &&
      std::getenv("QRN_TIME") == nullptr) {
    const process_result table = run("chain", {"QRN_DEPTH_OVERRIDE=samples=2", "QRN_REPORT=table"});
    EXPECT_EQ(count(table.err, "warning"), 0u) << table.err;
    const auto rows = qrn_test::table_rows(table.err, 6);
    // With threads the scaler may take samples as the bench writes them; scaled
    // holds all 8 until run-all has returned.
    for (const char* stream : {"samples", "scaled"}) {
      ASSERT_EQ(rows.count(stream), 1u) << table.err;
      EXPECT_EQ(rows.at(stream).back(), "2") << stream << " depth\n" << table.err;
    }
    EXPECT_EQ(rows.at("scaled")[3], "8") << table.err;
  }
}

TEST(Depth, DeclaredDepthsDeadlockTheCycleAndTheHangReportNamesTheFullStreams) {
  const process_result result = run("cycle", {"QRN_DEPTH=declared", "QRN_DEPTH_DEFAULT=2"});
  EXPECT_EQ(result.exit_status, 1) << result.err;
  EXPECT_EQ(result.out, "round 1: ping got 21, pong got 201\nround 2: ping got ");
  qrn_test::expect_contains_all(
      result.err,
      {"qrn:   a deadlock on depth: 2 writers wait for room in a full stream\n",
       "component ping waits to write ping_to_pong (qrn::internal::stream<int>, depth 2, full)",
       "component pong waits to write pong_to_ping (qrn::internal::stream<int>, depth 2, full)",
       "the test bench waits in a blocking read of ping_sums",
       "qrn:   the waits form a cycle: pong -> pong_to_ping -> ping -> ping_to_pong -> pong\n"});
  EXPECT_EQ(count(result.err, "qrn: hang:"), 1u) << result.err;
}

TEST(Depth, GrowGivesTheUnboundedResultsAndTellsTheDepthNeeded) {
  const process_result result = run("cycle", {"QRN_DEPTH=grow", "QRN_DEPTH_DEFAULT=2"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, cycle_results);
  // Growing either stream of the cycle to 3 lets both sides finish.
  EXPECT_EQ(count(result.err, "(qrn::internal::stream<int>) had to grow: depth 2, needed 3\n"), 1u)
      << result.err;
  EXPECT_EQ(count(result.err, "qrn: hang"), 0u) << result.err;
}

TEST(Depth, DepthsByNameOverrideTheDefault) {
  const process_result raised = run("cycle", {"QRN_DEPTH=declared", "QRN_DEPTH_DEFAULT=2",
                                              "QRN_DEPTH_OVERRIDE=ping_to_pong=3,pong_to_ping=3"});
  EXPECT_EQ(raised.exit_status, 0) << raised.err;
  EXPECT_EQ(raised.out, cycle_results);
  EXPECT_EQ(raised.err, "");
  const process_result lowered =
      run("cycle", {"QRN_DEPTH=declared", "QRN_DEPTH_OVERRIDE=pong_to_ping=1,ping_to_pong=2"});
  EXPECT_EQ(lowered.exit_status, 1) << lowered.err;
  qrn_test::expect_contains_all(lowered.err,
                                {"pong_to_ping (qrn::internal::stream<int>, depth 1, full)",
                                 "ping_to_pong (qrn::internal::stream<int>, depth 2, full)"});
}

TEST(Depth, BadSettingsGetOneLineEachAndTheRestApplies) {
  const process_result result =
      run("cycle", {"QRN_DEPTH=sideways", "QRN_DEPTH_DEFAULT=0",
                    "QRN_DEPTH_OVERRIDE=ping_to_pong=1,x,=3,nosuch=4,pong_to_ping=abc"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, cycle_results);
  qrn_test::expect_contains_all(
      result.err,
      {"qrn: ignoring QRN_DEPTH=sideways: expected unbounded, declared or grow; using unbounded\n",
       "qrn: ignoring QRN_DEPTH_DEFAULT=0: expected a depth of at least 1;",
       "qrn: ignoring \"x\" in QRN_DEPTH_OVERRIDE", "qrn: ignoring \"=3\" in QRN_DEPTH_OVERRIDE",
       "qrn: ignoring \"pong_to_ping=abc\" in QRN_DEPTH_OVERRIDE",
       "stream ping_to_pong (qrn::internal::stream<int>) peaked at 3 elements; its declared depth "
       "1",
       "qrn: QRN_DEPTH_OVERRIDE: no stream is named nosuch; its depth 4 was not used\n"});
  EXPECT_EQ(qrn_test::lines_of(result.err).size(), 7u) << result.err;
}

TEST(Depth, TryWriteOnAFullStreamReturnsFalseAndChangesNothing) {
  const process_result declared = run("try", {"QRN_DEPTH=declared", "QRN_DEPTH_DEFAULT=2"});
  EXPECT_EQ(declared.exit_status, 0) << declared.err;
  EXPECT_EQ(declared.out, "slots: 1 1 0 read 1 then 1\npackets: 1 1 0\nleft: 2 4 1 2\n");
  const process_result unbounded = run("try", {"QRN_DEPTH_DEFAULT=2"});
  EXPECT_EQ(unbounded.out, "slots: 1 1 1 read 1 then 1\npackets: 1 1 1\nleft: 2 3 4 1 2 3\n");
}

TEST(Depth, ByPointerWriteToAFullStreamWaitsForTheReader) {
  const process_result result =
      run("byptr", {"QRN_DEPTH=declared", "QRN_DEPTH_DEFAULT=2", "QRN_REPORT=table"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, "drained 6\n");
  const auto rows = qrn_test::table_rows(result.err);
  ASSERT_EQ(rows.count("lane"), 1u) << result.err;
  // type, written, read, peak, now, asleep, depth
  EXPECT_EQ(rows.at("lane").at(3), "2") << result.err;
  EXPECT_EQ(rows.at("lane").at(6), "2") << result.err;
}

TEST(Depth, AWriterHeldByAFullStreamCountsTheWaitAsleep) {
  const process_result result = run("held", {"QRN_DEPTH=declared", "QRN_REPORT=table"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, "held 10\n");
  const auto rows = qrn_test::table_rows(result.err);
  ASSERT_EQ(rows.count("holder()"), 1u) << result.err;
  // calls, moving calls, asleep s: the bench slept 0.3 s while it waited
  EXPECT_GE(std::stod(rows.at("holder()").at(2)), 0.2) << result.err;
}

TEST(Depth, AStreamDestroyedWhileItsWriterWaitsForRoomStopsTheWriter) {
  const process_result result = run("local", {"QRN_DEPTH=declared"});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, "destroyed while its writer waited\n");
  EXPECT_NE(result.err.find("lane_of_main"), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find("qrn: hang"), std::string::npos) << result.err;
}

// Without hang looks every wait is untimed, so a wake-up lost on the way to
// a writer leaves it asleep for good instead of until its next look.
TEST(Depth, EveryWakeUpForRoomReachesAWriter) {
  const qrn_test::short_tsan_exit_watch short_watch;
  const process_result result =
      qrn_test::run_process({QRN_PROGRAM_DEPTH_RUN, "wakes"}, std::chrono::seconds(60),
                            {"QRN_DEPTH=declared", "QRN_HANG_AFTER=0"});
  EXPECT_FALSE(result.timed_out) << "a writer never woke\n" << result.err;
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, "all refills got in: 100 of 100 rounds\n");
}

}  // namespace
