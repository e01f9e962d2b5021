// The emulation runtime's run-all entry, seen from whole programs: when it
// returns, the always-running components have handled every input that was
// there when it was called.
#include <gtest/gtest.h>

#include <string>

#include "support/expect_runs.h"

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

// Run-all gives up after about a second; the run limit only catches a hang.
TEST(RunAll, ReturnsAlthoughAComponentNeverGoesQuiet) {
  expect_runs({QRN_PROGRAM_NEVER_QUIET, "writes"}, 3, "returned\n");
  expect_runs({QRN_PROGRAM_NEVER_QUIET, "loops"}, 3, "returned\n");
}

}  // namespace
