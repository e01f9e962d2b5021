// The emulation runtime's run-all entry, seen from whole programs: when it
// returns, the always-running components have handled every input that was
// there when it was called.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "support/expect_runs.h"
#include "support/run_process.h"

namespace {

using qrn_test::expect_runs;

std::string results(int count) { return std::to_string(count) + " results\n"; }

TEST(RunAll, ReturnsWhenNothingWasLaunched) {
  expect_runs({QRN_PROGRAM_NOTHING_LAUNCHED}, 5, "entry called: no, inputs left: 2, outputs: 0\n");
}

TEST(RunAll, PollingComponentHasHandledEveryInput) {
  for (int count : {1, 3, 1000}) {
    expect_runs({QRN_PROGRAM_POLLING_DOUBLER, std::to_string(count)}, 40, results(count));
  }
}

TEST(RunAll, BlockingComponentHasHandledEveryInput) {
  for (const char* mode : {"write-first", "launch-first"}) {
    for (int count : {1, 3, 1000}) {
      expect_runs({QRN_PROGRAM_BLOCKING_DOUBLER, std::to_string(count), mode}, 40, results(count));
    }
  }
}

TEST(RunAll, TwoStagePipelineHasHandledEveryInput) {
  for (int count : {1, 3, 1000}) {
    expect_runs({QRN_PROGRAM_TWO_STAGE_PIPELINE, std::to_string(count)}, 40, results(count));
  }
}

// The component parks before each input: each wakes it, whichever of its two
// inputs it reaches, and run-all waits for it, however long it was parked.
TEST(RunAll, ParkedPollerHandlesEveryInputOfEitherStream) {
  for (int count : {1, 50}) {
    expect_runs({QRN_PROGRAM_PARKED_POLLER, std::to_string(count)}, 10, results(2 * count));
  }
}

// Work that takes longer than a second is not cut short.
TEST(RunAll, WaitsForFiniteWorkThatTakesSeconds) {
  const std::chrono::minutes limit(2);
  expect_runs({QRN_PROGRAM_FINITE_WORK, "750000", "busy"}, 1, results(750000), 0, limit);
  expect_runs({QRN_PROGRAM_FINITE_WORK, "200", "sleepy"}, 1, results(200), 0, limit);
}

TEST(RunAll, RunsAComponentLaunchedDuringStaticInitialisation) {
  expect_runs({QRN_PROGRAM_LAUNCHED_DURING_STATIC_INIT, "1000"}, 20, results(1000));
}

// The lines of `text` that contain `part`.
std::vector<std::string> lines_with(const std::string& text, const std::string& part) {
  std::vector<std::string> found;
  for (const std::string& line : qrn_test::lines_of(text)) {
    if (line.find(part) != std::string::npos) {
      found.push_back(line);
    }
  }
  return found;
}

// With QRN_SETTLE_LIMIT=0.1, run-all gives up after a tenth of a second with
// one warning line naming the component; the run limit is well below the
// default. A tenth keeps the stream that "writes" fills far below the
// ceiling on a stream's storage, however fast the machine writes.
TEST(RunAll, ReturnsAlthoughAComponentNeverGoesQuiet) {
  const qrn_test::short_tsan_exit_watch short_watch;
  for (const auto& mode :
       {std::make_pair("writes", "writes_forever"), std::make_pair("loops", "reads_own_output")}) {
    for (int run = 0; run < 2; ++run) {
      const qrn_test::process_result result =
          qrn_test::run_process({QRN_PROGRAM_NEVER_QUIET, mode.first}, std::chrono::seconds(20),
                                {"QRN_SETTLE_LIMIT=0.1"});
      EXPECT_EQ(result.exit_status, 0);
      EXPECT_EQ(result.out, "returned\n");
      const std::vector<std::string> warnings = lines_with(result.err, "gave up");
      ASSERT_EQ(warnings.size(), 1u) << result.err;
      EXPECT_EQ(warnings[0].rfind("qrn: __qrn_hls_component_run_all gave up after 0.1 s", 0), 0u)
          << result.err;
      EXPECT_NE(warnings[0].find(mode.second), std::string::npos) << result.err;
    }
  }
}

// A limit that is not a number is reported once and the default applies.
TEST(RunAll, ReportsAnUnreadableSettleLimit) {
  const qrn_test::process_result result = qrn_test::run_process(
      {QRN_PROGRAM_POLLING_DOUBLER, "3"}, std::chrono::seconds(20), {"QRN_SETTLE_LIMIT=abc"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out, results(3));
  EXPECT_EQ(lines_with(result.err, "QRN_SETTLE_LIMIT").size(), 1u) << result.err;
}

}  // namespace
