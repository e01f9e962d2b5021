// Timed runs (QRN_TIME=cycles) against results known in closed form: the
// first output after the pipeline's latencies, the pace of its slowest
// stage, FIFOs too shallow for their ends, bursts that fit a depth, the test
// bench's stall model, repeatable counts, and traces stamped in cycles.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_process.h"

namespace {

const std::vector<std::string> timed = {"QRN_TIME=cycles"};

std::string run_case(const std::string& which, int n, std::vector<std::string> env = timed) {
  const qrn_test::process_result result = qrn_test::run_process(
      {QRN_TIMED_CASES, which, std::to_string(n)}, std::chrono::seconds(60), env);
  EXPECT_EQ(result.exit_status, 0) << result.err;
  return result.out;
}

TEST(TimedRuns, AChainOutputsAfterItsLatenciesAtThePaceOfItsSlowestStage) {
  // Latencies 2 + 5 + 3 and one cycle through each of the four FIFOs; the
  // stage of II 3 sets the pace.
  EXPECT_EQ(run_case("chain", 30),
            "first output at 14, then one every 3 cycles\nbottleneck: component slow\n");
}

TEST(TimedRuns, AFifoOfDepthOneHalvesThePaceOfTwoStagesAndDepthTwoRestoresIt) {
  EXPECT_EQ(run_case("depth1", 40),
            "first output at 5, then one every 2 cycles\n"
            "bottleneck: stream link (too shallow for both its ends)\n");
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
  const qrn_test::process_result bogus = qrn_test::run_process(
      {QRN_TIMED_CASES, "chain", "6"}, std::chrono::seconds(30), {"QRN_TIME=bogus"});
  const qrn_test::process_result untimed = qrn_test::run_process(
      {QRN_TIMED_CASES, "chain", "6"}, std::chrono::seconds(30), {"QRN_TIME=off"});
  EXPECT_EQ(bogus.out, untimed.out);
  EXPECT_EQ(bogus.err,
            "qrn: ignoring QRN_TIME=bogus: expected cycles or off; the run is not timed\n");
  // A timed run needs fibers: QRN_SCHEDULE=threads gives way, with one line.
  const qrn_test::process_result threads =
      qrn_test::run_process({QRN_TIMED_CASES, "chain", "6"}, std::chrono::seconds(30),
                            {"QRN_TIME=cycles", "QRN_SCHEDULE=threads"});
  EXPECT_EQ(threads.out, run_case("chain", 6));
  EXPECT_EQ(threads.err, "qrn: ignoring QRN_SCHEDULE=threads: QRN_TIME=cycles runs on fibers\n");
}

TEST(TimedRuns, TheTraceIsStampedInCycles) {
  char dir[] = "/tmp/qrn_timed_test_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/chain.vcd";
  run_case("chain", 4, {"QRN_TIME=cycles", "QRN_TRACE=" + file});
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  const std::string vcd = text.str();
  EXPECT_NE(vcd.find("$comment cycles of a timed run (1 ns = 1 cycle)"), std::string::npos);
  // `out` gets its first element at cycle 13 (readable at 14), one every 3
  // cycles after, and is empty from the cycle after the bench's last read,
  // at 23.
  const std::string::size_type declared = vcd.find(" out $end");
  ASSERT_NE(declared, std::string::npos) << vcd;
  const std::string::size_type code_at = vcd.rfind(' ', declared - 1) + 1;
  const std::string code = vcd.substr(code_at, declared - code_at);
  std::vector<std::pair<std::uint64_t, std::string>> changes;  // (cycle, value) of `out`
  std::uint64_t now = 0;
  std::istringstream lines(vcd.substr(vcd.find("$enddefinitions")));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line[0] == '#') {
      now = std::stoull(line.substr(1));
    } else if (line.size() > code.size() + 1 && line[0] == 'b' &&
               line.substr(line.size() - code.size() - 1) == " " + code) {
      changes.emplace_back(now, line.substr(1, line.size() - code.size() - 2));
    }
  }
  ASSERT_GE(changes.size(), 3u) << vcd;
  EXPECT_EQ(changes[1], (std::pair<std::uint64_t, std::string>{13, "1"}));
  EXPECT_EQ(changes.back().second, "0");
  EXPECT_EQ(changes.back().first, 24u);
  std::remove(file.c_str());
  rmdir(dir);
}

}  // namespace
