// Defaults a program gives in its own source (qrn_default_options), seen from
// whole runs of programs/default_options_run.cpp: they apply, the environment
// overrides each setting it sets, and bad entries are reported once and
// change nothing else. QRN_SCHEDULE is read by the headers, QRN_DEPTH by the
// runtime.
#include <gtest/gtest.h>

#include <string>
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

}  // namespace
