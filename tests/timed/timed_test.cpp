// Timed runs (QRN_TIME=cycles) against results known in closed form: the
// first output after the pipeline's latencies, the pace of its slowest
// stage, FIFOs too shallow for their ends, bursts that fit a depth, the test
// bench's stall model, repeatable counts, and traces stamped in cycles.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "support/report_table.h"
#include "support/run_process.h"
#include "trace/trace_readers.h"

namespace {

const std::vector<std::string> timed = {"QRN_TIME=cycles"};

qrn_test::process_result run(const std::string& which, int n, const std::vector<std::string>& env) {
  return qrn_test::run_process({QRN_TIMED_CASES, which, std::to_string(n)},
                               std::chrono::seconds(60), env);
}

std::string run_case(const std::string& which, int n, const std::vector<std::string>& env = timed) {
  const qrn_test::process_result result = run(which, n, env);
  EXPECT_EQ(result.exit_status, 0) << result.err;
  return result.out;
}

// The cycle tables of a run's report and the lines after them (the run
// table before them holds wall-clock times); empty when there are none.
std::string cycle_tables(const std::string& err) {
  const std::size_t header_end = err.find("(cycles)\n");
  if (header_end == std::string::npos) {
    return "";
  }
  return err.substr(err.rfind('\n', header_end) + 1);
}

TEST(TimedRuns, AChainOutputsAfterItsLatenciesAtThePaceOfItsSlowestStage) {
  // Latencies 2 + 5 + 3 and one cycle through each of the four FIFOs; the
  // stage of II 3 sets the pace: 29 intervals of 3 of the path's 101 cycles,
  // and its latency 5 more.
  EXPECT_EQ(run_case("chain", 30),
            "first output at 14, then one every 3 cycles\n"
            "bottleneck: slow pace 86 %, slow latency 5 %\n");
}

TEST(TimedRuns, AFifoOfDepthOneHalvesThePaceOfTwoStagesAndDepthTwoRestoresIt) {
  EXPECT_EQ(run_case("depth1", 40),
            "first output at 5, then one every 2 cycles\n"
            "bottleneck: stream link too shallow 94 %\n");
  const std::string depth_2 = run_case("depth2", 40);
  EXPECT_EQ(depth_2.substr(0, depth_2.find('\n')), "first output at 5, then one every 1 cycles");
  EXPECT_EQ(run_case("depth16", 40), depth_2);
  // Unbounded, as with declared depths of at least two.
  EXPECT_EQ(run_case("depth1", 40, {"QRN_TIME=cycles", "QRN_DEPTH=unbounded"}), depth_2);
}

TEST(TimedRuns, BurstStallsFallAsTheDepthGrowsUntilABurstFits) {
  // 16 elements at one per cycle into a reader of one per 2 cycles: a burst
  // fits in 9 slots. Below that each burst holds its source back.
  std::uint64_t last_stalls = ~std::uint64_t{0};
  std::string at_fit;
  for (int depth = 1; depth <= 12; ++depth) {
    SCOPED_TRACE("depth " + std::to_string(depth));
    const std::string out = run_case(
        "bursts", 8, {"QRN_TIME=cycles", "QRN_DEPTH_OVERRIDE=link=" + std::to_string(depth)});
    unsigned long long sum = 0, stalls = 0, peak = 0, cycles = 0;
    ASSERT_EQ(std::sscanf(out.c_str(),
                          "sum %llu, source stalled %llu cycles, link peaked at %llu, %llu cycles",
                          &sum, &stalls, &peak, &cycles),
              4)
        << out;
    EXPECT_EQ(sum, 8u * 120u);
    EXPECT_LE(peak, static_cast<unsigned long long>(depth));
    if (depth < 9) {
      EXPECT_LT(stalls, last_stalls);
      EXPECT_GT(stalls, 0u);
    } else {
      EXPECT_EQ(stalls, 0u);
      if (depth == 9) {
        at_fit = out;
      } else {
        EXPECT_EQ(out, at_fit);  // more room changes nothing
      }
    }
    last_stalls = stalls;
  }
}

TEST(TimedRuns, ATryWriteSeesTheRoomThatTheReaderLeftEarlierInTheSameCycle) {
  // A depth-2 FIFO read every cycle never refuses an offer made every
  // cycle: each tryWrite waits for the reader's earlier cycles to run. The
  // offer at cycle i enters at i + 1, is read at i + 2 and its result
  // reaches the bench at i + 4.
  EXPECT_EQ(run_case("offers", 100), "0 of 100 offers refused, last read at 103\n");
}

TEST(TimedRuns, TryWritesOfTwoTasksThatWaitForEachOthersCyclesRefuseOnlyThemselves) {
  // Each tryWrite waits for the fibers with earlier clocks, so the two
  // tasks' offers interleave; a plain write after them must never be taken
  // for an offer, and refused, however they interleave.
  const std::vector<std::string> declared = {"QRN_TIME=cycles", "QRN_DEPTH=declared"};
  const std::string out = run_case("two_offers", 50, declared);
  EXPECT_NE(out.find("of 50 offers refused, the rest and every write arrived\n"), std::string::npos)
      << out;
  EXPECT_EQ(out.find("0 and 0 of"), std::string::npos) << "no offer was refused: " << out;
  std::vector<std::string> seeded = declared;
  seeded.push_back("QRN_SCHEDULE_SEED=2");
  EXPECT_EQ(run_case("two_offers", 50, seeded), out);
}

TEST(TimedRuns, AccessesPlacedAtTheirStagesMakeARoundTripCostWhatTheScheduleImplies) {
  // Request written at stage 0 (readable 1 later), read by the server at its
  // stage 0, answered at its stage 1 (readable 1 later): the answer is
  // readable 3 cycles into the client's iteration, whose read at stage 2
  // stalls it by 1. So 2 cycles per trip: iteration k starts at 2k + 1
  // (the first stalled too), and the sum, written at stage 2 of the last
  // iteration, reaches the bench at 2 * 100 + 2.
  EXPECT_EQ(run_case("round_trip", 100), "sum 5050 at 202\n");
  EXPECT_EQ(run_case("round_trip", 10), "sum 55 at 22\n");
  // Without stages the request leaves at the client's latency (3) and the
  // answer at the server's (2), and each read waits for the whole trip.
  EXPECT_EQ(run_case("round_trip_unstaged", 100), "sum 5050 at 803\n");
}

TEST(TimedRuns, AMarkedTaskStartsAnIterationEveryIiWhicheverEndsItUses) {
  // timing{2, 1}: with the mark, iteration k starts at 2k + 1 (the first
  // waits a cycle for the bench's element), writes at + 1 and its output is
  // read one cycle later: 2 * 199 + 3 for the last of 200. Without it each
  // end alone is paced at 2 cycles and the alternating loop runs at 1 per
  // cycle, as documented for tasks without the mark.
  EXPECT_EQ(run_case("alternating", 200), "200 iterations, last output at 401\n");
  EXPECT_EQ(run_case("alternating", 20), "20 iterations, last output at 41\n");
  EXPECT_EQ(run_case("alternating_unmarked", 200), "200 iterations, last output at 201\n");
}

TEST(TimedRuns, ALoopThatIsNotPipelinedPollsInItsOwnStateOncePerIteration) {
  // `done` is readable at 23 (start written at 0, answered at latency 21).
  // The loop starts at 1 (after the write's state) and polls at 1 + S*j + 1:
  // polls before 23 find it empty, floor(20 / S) + 1 of them; the count is
  // written in state 1 of the iteration that found it, read 1 later. A poll
  // sharing the cycle of its iteration's start would count 8 with S = 3.
  for (int states : {2, 3, 5}) {
    SCOPED_TRACE("states " + std::to_string(states));
    const int polls = 20 / states + 1;
    EXPECT_EQ(run_case("timer", states), std::to_string(polls) +
                                             " polls found it empty; count at " +
                                             std::to_string(states * polls + 3) + "\n");
  }
}

TEST(TimedRuns, ALineBuffersPeakIsTheDepthItNeeds) {
  // Each call writes a pixel (entering 3 cycles later) before it reads back
  // the one a row of 63 before (at once): in cycles at most 61 are held, but
  // the write needs its slot before that read, so 64.
  const std::string full_speed = "line peak 64, stalls 0, last output at 256\n";
  EXPECT_EQ(run_case("line_buffer", 4), full_speed);
  EXPECT_EQ(run_case("line_buffer", 4, {"QRN_TIME=cycles", "QRN_DEPTH=unbounded"}), full_speed);
  EXPECT_EQ(run_case("line_buffer", 4, {"QRN_TIME=cycles", "QRN_DEPTH_OVERRIDE=line=200"}),
            full_speed);
  // One less deadlocks.
  const qrn_test::process_result shallow =
      run("line_buffer", 4, {"QRN_TIME=cycles", "QRN_DEPTH_OVERRIDE=line=63"});
  EXPECT_EQ(shallow.out.find("line peak"), std::string::npos) << shallow.out;
  EXPECT_NE(shallow.err.find("deadlock on depth"), std::string::npos) << shallow.err;
}

TEST(TimedRuns, AWriteWhoseCopyThrowsOrAReportHalfwayLeavesEveryFigureAsItWas) {
  // A design that drops one element in three by writing nothing, against
  // the same design dropping it by a write whose copy throws, and against
  // the first with a report taken halfway through the bench's reads. Far
  // more events than the occupancy count takes in one go, so that some
  // failed writes fall where it counts; at the declared depth 2, or
  // unbounded, so that a write finds the FIFO full or never does.
  for (const char* depth : {"QRN_DEPTH=declared", "QRN_DEPTH=unbounded"}) {
    SCOPED_TRACE(depth);
    const std::vector<std::string> env = {"QRN_TIME=cycles", "QRN_REPORT=table", depth};
    const qrn_test::process_result dropped = run("dropped_writes", 900, env);
    ASSERT_NE(dropped.out.find("outputs read at"), std::string::npos) << dropped.out;
    ASSERT_NE(cycle_tables(dropped.err).find("\nout "), std::string::npos) << dropped.err;
    for (const char* variant : {"thrown_writes", "looked_halfway"}) {
      SCOPED_TRACE(variant);
      const qrn_test::process_result same = run(variant, 900, env);
      EXPECT_EQ(same.exit_status, 0) << same.err;
      EXPECT_EQ(same.out, dropped.out);
      EXPECT_EQ(cycle_tables(same.err), cycle_tables(dropped.err));
    }
  }
}

TEST(TimedRuns, TheBenchReadsAnOutputAtThePaceOfItsStallModel) {
  for (int stall : {0, 1, 3}) {
    SCOPED_TRACE("setStallCycles(" + std::to_string(stall) + ", 0)");
    const std::string out = run_case("bench_stalls", stall);
    EXPECT_NE(out.find("then one every " + std::to_string(stall + 1) + " cycles\n"),
              std::string::npos)
        << out;
  }
}

TEST(TimedRuns, CountsRepeatAcrossRunsAndSchedulingSeeds) {
  const std::string reference = run_case("chain", 50);
  for (const char* seed : {"1", "2", "7"}) {
    EXPECT_EQ(run_case("chain", 50, {"QRN_TIME=cycles", std::string("QRN_SCHEDULE_SEED=") + seed}),
              reference);
  }
  EXPECT_EQ(run_case("chain", 50), reference);
}

TEST(TimedRuns, TheSamplePrintsTheSameLinesTimed) {
  const qrn_test::process_result untimed = qrn_test::run_process({QRN_SAMPLE_PROGRAM});
  const qrn_test::process_result cycles =
      qrn_test::run_process({QRN_SAMPLE_PROGRAM}, std::chrono::seconds(30), timed);
  EXPECT_EQ(cycles.out, untimed.out);
  EXPECT_EQ(cycles.exit_status, untimed.exit_status);
  EXPECT_EQ(cycles.err, "");
}

TEST(TimedRuns, BadSettingsGetOneLineAndChangeNothingElse) {
  const qrn_test::process_result bogus = run("chain", 6, {"QRN_TIME=bogus"});
  const qrn_test::process_result untimed = run("chain", 6, {"QRN_TIME=off"});
  EXPECT_EQ(bogus.out, untimed.out);
  EXPECT_EQ(bogus.err,
            "qrn: ignoring QRN_TIME=bogus: expected cycles or off; the run is not timed\n");
  // A timed run needs fibers: QRN_SCHEDULE=threads gives way, with one line.
  const qrn_test::process_result threads =
      run("chain", 6, {"QRN_TIME=cycles", "QRN_SCHEDULE=threads"});
  EXPECT_EQ(threads.out, run_case("chain", 6));
  EXPECT_EQ(threads.err, "qrn: ignoring QRN_SCHEDULE=threads: QRN_TIME=cycles runs on fibers\n");
}

TEST(TimedRuns, TheTraceIsStampedInCycles) {
  char dir[] = "/tmp/qrn_timed_test_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/chain.vcd";
  run_case("chain", 4, {"QRN_TIME=cycles", "QRN_TRACE=" + file});
  const std::string text = qrn_test::read_file(file);
  EXPECT_NE(text.find("$comment cycles of a timed run (1 ns = 1 cycle)"), std::string::npos);
  // `out` gets its first element at cycle 13 (readable at 14), one every 3
  // cycles after, and is empty from the cycle after the bench's last read,
  // at 23.
  const qrn_test::vcd_file vcd = qrn_test::read_vcd(text);
  const std::vector<qrn_test::vcd_change>& changes = vcd.changes_of("streams", "out");
  ASSERT_GE(changes.size(), 3u) << text;
  EXPECT_EQ(changes[1].time, 13u);
  EXPECT_EQ(changes[1].value, "1");
  EXPECT_EQ(changes.back().value, "0");
  EXPECT_EQ(changes.back().time, 24u);
  std::remove(file.c_str());
  rmdir(dir);
}

// A recorded trace sends every read and write down the stream's general
// path; untraced, an ordinary one takes its cycle inline. Both must give
// the same cycles and cycle tables, in designs that wait for data, for room,
// refuse offers and read back their own writes.
TEST(TimedRuns, OrdinaryReadsAndWritesTakeTheCyclesOfTheGeneralPath) {
  char dir[] = "/tmp/qrn_timed_test_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/run.vcd";
  const std::vector<std::pair<std::string, int>> cases = {
      {"chain", 30},       {"depth1", 40},     {"offers", 100}, {"round_trip", 100},
      {"alternating", 20}, {"line_buffer", 4}, {"chain_of", 8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    const qrn_test::process_result traced =
        run(c.first, c.second, {"QRN_TIME=cycles", "QRN_REPORT=table", "QRN_TRACE=" + file});
    const qrn_test::process_result untraced =
        run(c.first, c.second, {"QRN_TIME=cycles", "QRN_REPORT=table"});
    EXPECT_EQ(traced.exit_status, 0) << traced.err;
    EXPECT_EQ(traced.out, untraced.out);
    EXPECT_NE(cycle_tables(untraced.err), "") << untraced.err;
    EXPECT_EQ(cycle_tables(traced.err), cycle_tables(untraced.err)) << untraced.err;
    std::remove(file.c_str());
  }
  rmdir(dir);
}

TEST(TimedRuns, ATaskThatMarksItsIterationsShowsThemAsItsCalls) {
  // Marked, the run table and the cycle table count its 20 iterations and
  // say so; unmarked, its one call, as in an untimed run.
  for (const bool marked : {true, false}) {
    SCOPED_TRACE(marked ? "marked" : "unmarked");
    const qrn_test::process_result result = run(marked ? "alternating" : "alternating_unmarked", 20,
                                                {"QRN_TIME=cycles", "QRN_REPORT=table"});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    const std::string calls = marked ? "20" : "1";
    EXPECT_EQ(qrn_test::table_rows(result.err).at("alternate").at(0), calls) << result.err;
    EXPECT_EQ(qrn_test::count(result.err, "(ended; calls: its iterations)"), marked ? 1u : 0u)
        << result.err;
    const std::size_t cycle_row = result.err.rfind("\nalternate ");
    ASSERT_NE(cycle_row, std::string::npos) << result.err;
    EXPECT_EQ(qrn_test::table_rows(result.err.substr(cycle_row)).at("alternate").at(0), calls)
        << result.err;
  }
}

}  // namespace
