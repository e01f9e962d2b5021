// Defaults a program gives in its own source (qrn_default_options), seen from
// whole runs of programs/default_options_run.cpp: they apply, the environment
// overrides each setting it sets, and bad entries are reported once and
// change nothing else. QRN_SCHEDULE is read by the headers, QRN_DEPTH by the
// runtime.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/run_process.h"

namespace {

using qrn_test::count;
using qrn_test::process_result;

std::vector<std::string> programs() {
  return {QRN_PROGRAM_DEFAULT_OPTIONS_RUN,
#ifdef QRN_PROGRAM_DEFAULT_OPTIONS_RUN_SHARED
          QRN_PROGRAM_DEFAULT_OPTIONS_RUN_SHARED
#endif
  };
}

// Runs `program` with `defaults` as its qrn_default_options and `env` added
// to the environment; expects it to succeed.
process_result run(const std::string& program, const std::string& defaults,
                   std::vector<std::string> env = {}) {
  env.push_back("TEST_DEFAULT_OPTIONS=" + defaults);
  const process_result result = qrn_test::run_process({program}, std::chrono::seconds(30), env);
  EXPECT_EQ(result.exit_status, 0) << result.err;
  return result;
}

void expect_once(const std::string& text, const std::string& line) {
  EXPECT_EQ(count(text, line), 1u) << "expected once: " << line << "\nin:\n" << text;
}

TEST(Settings, DefaultsApplyAndTheEnvironmentOverridesEachSettingItSets) {
  for (const std::string& program : programs()) {
    SCOPED_TRACE(program);
    EXPECT_EQ(run(program, "").out, "threads\nunbounded\n");
    const std::string defaults = "QRN_SCHEDULE=fibers \t QRN_DEPTH=declared";
    const process_result given = run(program, defaults);
    EXPECT_EQ(given.out, "fibers\ndeclared\n");
    EXPECT_EQ(given.err, "");
    EXPECT_EQ(run(program, defaults, {"QRN_SCHEDULE=threads"}).out, "threads\ndeclared\n");
    EXPECT_EQ(run(program, defaults, {"QRN_DEPTH=unbounded"}).out, "fibers\nunbounded\n");
    EXPECT_EQ(run(program, "QRN_DEPTH=declared QRN_DEPTH=unbounded").out, "threads\nunbounded\n");
  }
}

TEST(Settings, BadDefaultsAreReportedOnceAndChangeNothingElse) {
  const process_result bad =
      run(QRN_PROGRAM_DEFAULT_OPTIONS_RUN, "QRN_SCHEDULE=sideways QRN_DEPTH=sideways");
  EXPECT_EQ(bad.out, "threads\nunbounded\n");
  EXPECT_EQ(count(bad.err, "qrn: ignoring "), 2u) << bad.err;
  expect_once(bad.err,
              "qrn: ignoring QRN_SCHEDULE=sideways (from qrn_default_options): expected threads or "
              "fibers; using threads\n");
  expect_once(bad.err,
              "qrn: ignoring QRN_DEPTH=sideways (from qrn_default_options): expected unbounded, "
              "declared or grow; using unbounded\n");

  // The environment's bad value is reported as before, and the default it
  // overrides is not used. (Unbounded, the bench's stream exceeds its
  // declared depth, which gets its usual warning.)
  const process_result overridden =
      run(QRN_PROGRAM_DEFAULT_OPTIONS_RUN, "QRN_DEPTH=declared", {"QRN_DEPTH=sideways"});
  EXPECT_EQ(overridden.out, "threads\nunbounded\n");
  EXPECT_EQ(count(overridden.err, "qrn: ignoring "), 1u) << overridden.err;
  expect_once(overridden.err,
              "qrn: ignoring QRN_DEPTH=sideways: expected unbounded, declared or grow; using "
              "unbounded\n");

  // An unknown name and entries without a name or '=' get a line each, and
  // nothing else does; the good entries around them apply.
  const process_result unknown =
      run(QRN_PROGRAM_DEFAULT_OPTIONS_RUN,
          "QRN_DEPTHS=grow fibers QRN_SCHEDULE=fibers =x QRN_DEPTH=declared");
  EXPECT_EQ(unknown.out, "fibers\ndeclared\n");
  EXPECT_EQ(count(unknown.err, "\n"), 3u) << unknown.err;
  expect_once(unknown.err,
              "qrn: unknown setting QRN_DEPTHS (from qrn_default_options); known: QRN_DEPTH, "
              "QRN_DEPTH_DEFAULT, ");
  expect_once(unknown.err,
              "qrn: ignoring \"fibers\" in qrn_default_options: expected NAME=VALUE\n");
  expect_once(unknown.err, "qrn: ignoring \"=x\" in qrn_default_options: expected NAME=VALUE\n");
}

// A run of the bench that may fail, with `env` added to the environment.
process_result run_bench(const std::string& program, std::vector<std::string> env) {
  return qrn_test::run_process({program}, std::chrono::seconds(30), env);
}

TEST(Settings, StrictRunsEndBeforeTheyStartOnAnyBadOrUnknownSetting) {
  const std::string ending =
      "qrn: QRN_STRICT=1: ending the run before it starts, with status 2: 1 bad or unknown "
      "setting above\n";
  // Settings read at start-up, at the first stream operation, by the fiber
  // scheduler and by run-all, from the environment or the defaults.
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"QRN_STRICT=1", "QRN_DEPTH=declard"}, "qrn: ignoring QRN_DEPTH=declard"},
      {{"QRN_STRICT=1", "QRN_DEPHT=grow"}, "qrn: unknown setting QRN_DEPHT; known: "},
      {{"TEST_DEFAULT_OPTIONS=QRN_STRICT=1 QRN_DEPHT=grow"},
       "qrn: unknown setting QRN_DEPHT (from qrn_default_options)"},
      {{"TEST_DEFAULT_OPTIONS=QRN_STRICT=1", "QRN_SCHEDULE=fiber"},
       "qrn: ignoring QRN_SCHEDULE=fiber: expected threads or fibers"},
      {{"QRN_STRICT=1", "QRN_FIBER_STACK=3"}, "qrn: ignoring QRN_FIBER_STACK=3:"},
      {{"QRN_STRICT=1", "QRN_SETTLE_LIMIT=soon"}, "qrn: ignoring QRN_SETTLE_LIMIT=soon:"},
      {{"QRN_STRICT=1", "QRN_PARK_LIMIT_US=-1"}, "qrn: ignoring QRN_PARK_LIMIT_US=-1:"},
      {{"QRN_STRICT=1", "QRN_SCHEDULE=fibers", "QRN_SCHEDULE_SEED=x"},
       "qrn: ignoring QRN_SCHEDULE_SEED=x:"},
      {{"QRN_STRICT=1", "QRN_SCHEDULE_SEED=4"},
       "qrn: QRN_SCHEDULE_SEED=4 has no effect without QRN_SCHEDULE=fibers: threads interleave "
       "as the system runs them\n"},
  };
  for (const auto& c : cases) {
    const process_result strict = run_bench(QRN_PROGRAM_DEFAULT_OPTIONS_RUN, c.first);
    EXPECT_EQ(strict.exit_status, 2) << c.second << "\n" << strict.err;
    EXPECT_EQ(strict.out, "") << c.second;
    EXPECT_EQ(strict.err.rfind(c.second, 0), 0u) << strict.err;
    EXPECT_EQ(strict.err.substr(strict.err.find('\n') + 1), ending) << strict.err;
  }
  const process_result two =
      run_bench(QRN_PROGRAM_DEFAULT_OPTIONS_RUN, {"QRN_STRICT=1", "QRN_DEPTH=x", "QRN_REPORT=y"});
  EXPECT_EQ(two.exit_status, 2);
  EXPECT_NE(two.err.find("ending the run before it starts, with status 2: 2 bad or unknown "
                         "settings above\n"),
            std::string::npos)
      << two.err;

  // Without QRN_STRICT=1 the same settings get their line and the run goes
  // on; good settings pass a strict run.
  const process_result lenient = run_bench(QRN_PROGRAM_DEFAULT_OPTIONS_RUN, {"QRN_DEPTH=declard"});
  EXPECT_EQ(lenient.exit_status, 0) << lenient.err;
  EXPECT_EQ(lenient.out, "threads\nunbounded\n");
  const process_result seeded =
      run_bench(QRN_PROGRAM_DEFAULT_OPTIONS_RUN, {"QRN_STRICT=0", "QRN_SCHEDULE_SEED=4"});
  EXPECT_EQ(seeded.exit_status, 0) << seeded.err;
  EXPECT_EQ(count(seeded.err, "QRN_SCHEDULE_SEED=4 has no effect"), 1u) << seeded.err;
  for (const std::string& program : programs()) {
    const process_result good =
        run_bench(program, {"QRN_STRICT=1", "QRN_SCHEDULE=fibers", "QRN_SCHEDULE_SEED=4",
                            "QRN_DEPTH=declared", "QRN_FIBER_STACK=256K"});
    EXPECT_EQ(good.exit_status, 0) << good.err;
    EXPECT_EQ(good.out, "fibers\ndeclared\n");
    EXPECT_EQ(good.err, "");
  }
  const process_result bad_strict = run_bench(QRN_PROGRAM_DEFAULT_OPTIONS_RUN, {"QRN_STRICT=yes"});
  EXPECT_EQ(bad_strict.exit_status, 0);
  EXPECT_EQ(bad_strict.err, "qrn: ignoring QRN_STRICT=yes: expected 1 or 0; not strict\n");
}

// A program linked against the runtime's library by hand, without the -Wl,-u
// options, still gets the timed run and its report.
TEST(Settings, AProgramLinkedWithoutTheLinkOptionsGetsEveryPartOfTheRuntime) {
  const process_result run = run_bench(
      QRN_PROGRAM_LINKED_BY_HAND, {"QRN_TIME=cycles", "QRN_REPORT=table", "QRN_SCHEDULE=fibers"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, "fibers\ndeclared\n");
  EXPECT_NE(run.err.find("qrn: run report\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("where_am_i"), std::string::npos) << run.err;
  const process_result strict =
      run_bench(QRN_PROGRAM_LINKED_BY_HAND, {"QRN_STRICT=1", "QRN_DEPTH=declard"});
  EXPECT_EQ(strict.exit_status, 2) << strict.err;
}

}  // namespace
