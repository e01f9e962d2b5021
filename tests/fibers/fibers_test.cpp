// The fiber scheduler seen from whole programs (programs/scheduled.cpp) and
// through qrn-explore.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/expect_runs.h"
#include "support/run_process.h"

namespace {

using qrn_test::process_result;
using qrn_test::run_process;

const std::string fibers = "QRN_SCHEDULE=fibers";
// The merge is timing-dependent, which the end of every run says.
const std::string two_writers =
    "qrn: warning: stream merged (qrn::stream_out<int>) has 2 writers, where one is expected: "
    "component left_copier and component right_copier\n";

process_result explore(std::vector<std::string> args) {
  args.insert(args.begin(), QRN_PROGRAM_EXPLORE);
  return run_process(args, std::chrono::seconds(120));
}

// `lines` written to a file, and `command` run by the shell with FILE standing
// for that file's name.
process_result run_on_file(const std::string& lines, const std::string& command) {
  const std::string file =
      testing::TempDir() + "qrn_explore_" + std::to_string(::getpid()) + ".jsonl";
  std::ofstream(file) << lines;
  std::string with_file = command;
  with_file.replace(with_file.find("FILE"), 4, "'" + file + "'");
  process_result result = run_process({"/bin/sh", "-c", with_file});
  std::remove(file.c_str());
  return result;
}

// The documented jq command that merges the JSON lines of qrn-explore's shards.
std::string documented_merge() {
  std::ifstream page(QRN_RUNS_PAGE);
  const std::string prompt = "$ jq -rs '";
  for (std::string line; std::getline(page, line);) {
    if (line.compare(0, prompt.size(), prompt) == 0) {
      return line.substr(2, line.rfind(' ') - 2) + " FILE";
    }
  }
  ADD_FAILURE() << "docs/runs.md shows no jq merge";
  return "false FILE";
}

process_result scheduled(const std::string& scenario, std::vector<std::string> env = {fibers}) {
  return run_process({QRN_PROGRAM_SCHEDULED, scenario}, std::chrono::seconds(60), env);
}

TEST(FiberScheduling, SameOutputInEveryRunAndAsWithThreads) {
  const qrn_test::short_tsan_exit_watch short_watch;  // the idle task workers are threads
  const process_result first = scheduled("merge");
  ASSERT_EQ(first.exit_status, 0) << first.err;
  EXPECT_EQ(first.out, "1 2 3 4 101 102 103 104\n");
  EXPECT_EQ(first.err, two_writers);
  for (int run = 0; run < 200; ++run) {
    const process_result again = scheduled("merge");
    ASSERT_EQ(again.out, first.out) << "run " << run;
    ASSERT_EQ(again.exit_status, 0) << "run " << run;
  }
  for (const std::string& mode : {fibers, std::string("QRN_SCHEDULE=threads")}) {
    const process_result chain = scheduled("chain", {mode});
    EXPECT_EQ(chain.out, "total 840\n") << mode << chain.err;
    EXPECT_EQ(chain.exit_status, 0) << mode;
  }
}

TEST(FiberScheduling, ASeedGivesAnotherInterleavingAndReplaysIt) {
  const qrn_test::short_tsan_exit_watch short_watch;
  const std::string fixed = scheduled("merge").out;
  std::string seed;
  std::string seeded;
  for (int n = 1; n <= 64 && seed.empty(); ++n) {
    const process_result run =
        scheduled("merge", {fibers, "QRN_SCHEDULE_SEED=" + std::to_string(n)});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    if (run.out != fixed) {
      seed = std::to_string(n);
      seeded = run.out;
    }
  }
  ASSERT_FALSE(seed.empty()) << "no seed of 64 changed the merge order";
  for (int replay = 0; replay < 20; ++replay) {
    EXPECT_EQ(scheduled("merge", {fibers, "QRN_SCHEDULE_SEED=" + seed}).out, seeded);
  }
}

// Every line is printed by the context that runs: the output is the
// schedule. A fiber that waits hands the thread straight to the fiber next in
// order; the schedules below are the ones the bench's own loop gives, fixed
// and under a seed.
TEST(FiberScheduling, FibersThatHandTheThreadOnKeepEachSchedule) {
  const qrn_test::short_tsan_exit_watch short_watch;
  const std::string declared = "QRN_DEPTH=declared";
  const process_result fixed = scheduled("handover", {fibers, declared});
  ASSERT_EQ(fixed.exit_status, 0) << fixed.err;
  EXPECT_EQ(
      fixed.out,
      "bench wrote 0\nwrote 100\nwrote 101\nread 100 and 0\nbench took 100\nbench wrote 1000\n"
      "wrote 200\nwrote 201\nread 101 and 1000\nbench polled 1101\nbench wrote 2000\n"
      "wrote 102\nread 200 and 2000\nbench took 2200\nbench wrote 3000\nwrote 202\n"
      "read 201 and 3000\nbench polled 3201\nwrote 103\nbench ran the components\n"
      "bench wrote 4000\nread 102 and 4000\nbench took 4102\nbench wrote 5000\nwrote 203\n"
      "read 202 and 5000\nbench polled 5202\nbench wrote 6000\nread 103 and 6000\n"
      "bench took 6103\nbench wrote 7000\nread 203 and 7000\nbench polled 7203\ntasks ended\n");
  // The writers ran side by side: both are named, though the first ended first.
  EXPECT_NE(fixed.err.find("has 2 writers, where one is expected: component lane_writer(100) and "
                           "component lane_writer(200)\n"),
            std::string::npos)
      << fixed.err;
  const std::string seed = "QRN_SCHEDULE_SEED=1";
  const process_result seeded = scheduled("handover", {fibers, declared, seed});
  ASSERT_EQ(seeded.exit_status, 0) << seeded.err;
  EXPECT_EQ(
      seeded.out,
      "bench wrote 0\nwrote 100\nwrote 101\nread 100 and 0\nbench took 100\nbench wrote 1000\n"
      "bench polled nothing\nbench wrote 2000\nread 101 and 1000\nbench took 1101\n"
      "bench wrote 3000\nbench polled nothing\nwrote 102\nwrote 103\nread 102 and 2000\n"
      "read 103 and 3000\nwrote 200\nwrote 201\nwrote 202\nbench ran the components\n"
      "bench wrote 4000\nbench took 2102\nbench wrote 5000\nbench polled 3103\n"
      "read 200 and 4000\nread 201 and 5000\nbench wrote 6000\nbench took 4200\n"
      "bench wrote 7000\nbench polled 5201\nwrote 203\nread 202 and 6000\nread 203 and 7000\n"
      "tasks ended\nbench took 6202\nbench took 7203\n");
  EXPECT_EQ(scheduled("handover", {fibers, declared, seed}).out, seeded.out);
}

// The writer waits for room in a full stream whose reader waits for a stream
// that nobody writes: a deadlock through the full stream, reported at once
// with every waiter, the writer included.
TEST(FiberScheduling, ADeadlockThroughAFullStreamNamesTheHeldWriter) {
  const process_result run =
      scheduled("held", {fibers, "QRN_DEPTH=declared", "QRN_HANG_AFTER=1000"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "waiting\n");
  for (const char* line :
       {"qrn:   a deadlock on depth: 1 writer waits for room in a full stream\n",
        "qrn:   the test bench waits in a blocking read of held_out (qrn::stream<int>)",
        "qrn:   component held_reader() waits in a blocking read of never_fed",
        "qrn:   component held_writer() waits to write held_lane (qrn::stream<int, "
        "qrn::buffer<2> >, depth 2, full)",
        "held_lane      qrn::stream<int, qrn::buffer<2> >           2           0         2 "}) {
    EXPECT_NE(run.err.find(line), std::string::npos) << line << "\n" << run.err;
  }
}

TEST(FiberScheduling, DeadlockIsReportedAtOnce) {
  const process_result run = scheduled("deadlock", {fibers, "QRN_HANG_AFTER=1000"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "waiting\n");
  EXPECT_NE(run.err.find("qrn: hang: no stream element has moved"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("the test bench waits in a blocking read of stuck_out"), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("component stuck_stage waits in a blocking read of never_written"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("ending the process with status 1"), std::string::npos) << run.err;
}

TEST(FiberScheduling, StackOverflowNamesTheComponentAndTheSetting) {
  const process_result run = scheduled("overflow", {fibers, "QRN_FIBER_STACK=64K"});
  EXPECT_EQ(run.term_signal, SIGSEGV);
  EXPECT_NE(run.err.find("qrn: component deep_recursion overflowed its fiber stack of 65536 "
                         "bytes; give it more with QRN_FIBER_STACK"),
            std::string::npos)
      << run.err;
}

TEST(FiberScheduling, StreamUsedFromAnotherThreadIsFatal) {
  const process_result run = scheduled("off_thread");
  EXPECT_EQ(run.term_signal, SIGABRT);
  EXPECT_NE(run.err.find("qrn: stream shared_stream used from a thread other than the test "
                         "bench's"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(scheduled("off_thread", {}).exit_status, 0);
}

TEST(FiberScheduling, BadSettingsGetOneLineAndTheDefault) {
  const process_result bad_mode = scheduled("chain", {"QRN_SCHEDULE=fiber"});
  EXPECT_EQ(bad_mode.out, "total 840\n");
  EXPECT_EQ(bad_mode.err,
            "qrn: ignoring QRN_SCHEDULE=fiber: expected threads or fibers; using threads\n");
  const process_result bad_seed = scheduled("merge", {fibers, "QRN_SCHEDULE_SEED=x"});
  EXPECT_EQ(bad_seed.out, "1 2 3 4 101 102 103 104\n");
  EXPECT_EQ(bad_seed.err,
            "qrn: ignoring QRN_SCHEDULE_SEED=x: expected a whole number; using the fixed order\n" +
                two_writers);
  const process_result bad_stack = scheduled("merge", {fibers, "QRN_FIBER_STACK=12"});
  EXPECT_EQ(bad_stack.out, "1 2 3 4 101 102 103 104\n");
  EXPECT_EQ(bad_stack.err,
            "qrn: ignoring QRN_FIBER_STACK=12: expected bytes (K or M suffix allowed) from 16K to "
            "1024M; using 1M\n" +
                two_writers);
}

TEST(Explorer, FindsTheSeedsThatChangeATimingDependentResult) {
  const qrn_test::short_tsan_exit_watch short_watch;
  const process_result run =
      run_process({QRN_PROGRAM_EXPLORE, "-n", "40", QRN_PROGRAM_SCHEDULED, "merge"});
  EXPECT_EQ(run.exit_status, 1) << run.out << run.err;
  const std::vector<std::string> lines = qrn_test::lines_of(run.out);
  ASSERT_EQ(lines.size(), 3U) << run.out;
  EXPECT_NE(lines[0].find("seeds differ from the fixed order"), std::string::npos);
  EXPECT_NE(lines[1].find("first difference: line 1: unseeded \"1 2 3 4 101 102 103 104\""),
            std::string::npos);
  const std::string replay = "qrn-explore: replay: QRN_SCHEDULE=fibers QRN_SCHEDULE_SEED=";
  ASSERT_EQ(lines[2].compare(0, replay.size(), replay), 0) << lines[2];
  const std::string seed =
      lines[2].substr(replay.size(), lines[2].find(' ', replay.size()) - replay.size());
  EXPECT_NE(scheduled("merge", {fibers, "QRN_SCHEDULE_SEED=" + seed}).out,
            "1 2 3 4 101 102 103 104\n");
}

// A bench that drains the results with polls, without run-all: the fixed
// order has them all, as before, but under seeds a poll may find the
// component not yet done, as a thread could, so the explorer tells.
TEST(Explorer, FindsABenchThatDrainsWithPollsWithoutRunAll) {
  const std::string all = "tryRead 100, empty 100, tryPeek 100\n";
  EXPECT_EQ(scheduled("drain").out, all);
  std::set<std::string> seen;
  for (int seed = 1; seed <= 8; ++seed) {
    const std::string with_seed = "QRN_SCHEDULE_SEED=" + std::to_string(seed);
    const process_result run = scheduled("drain", {fibers, with_seed});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(scheduled("drain", {fibers, with_seed}).out, run.out) << "a seed replays";
    seen.insert(run.out);
  }
  EXPECT_GT(seen.size(), 1u);
  EXPECT_EQ(seen.count(all), 0u) << "some poll of each seed finds the component behind";
  const process_result explored = explore({"-n", "10", QRN_PROGRAM_SCHEDULED, "drain"});
  EXPECT_EQ(explored.exit_status, 1) << explored.out;
  EXPECT_NE(explored.out.find("qrn-explore: 10 of 10 seeds differ from the fixed order"),
            std::string::npos)
      << explored.out;
  // A timed run's clocks decide what a poll finds, under a seed too.
  const process_result timed =
      scheduled("drain", {"QRN_TIME=cycles", "QRN_SCHEDULE_SEED=3", "QRN_REPORT=off"});
  EXPECT_EQ(timed.out, scheduled("drain", {"QRN_TIME=cycles", "QRN_REPORT=off"}).out);
}

TEST(Explorer, AgreesOnATimingIndependentResult) {
  const qrn_test::short_tsan_exit_watch short_watch;
  const process_result run =
      run_process({QRN_PROGRAM_EXPLORE, "-n", "40", QRN_PROGRAM_SCHEDULED, "chain"});
  EXPECT_EQ(run.exit_status, 0) << run.out << run.err;
  EXPECT_EQ(run.out,
            "qrn-explore: all 40 seeds agree with the fixed order (same output, exit status 0)\n");
}

TEST(Explorer, ShardsMergedByTheDocumentedCommandGiveTheVerdictOfTheWholeRange) {
  const qrn_test::short_tsan_exit_watch short_watch;
  const std::string merge = documented_merge();
  const std::pair<const char*, int> scenarios[] = {{"merge", 1}, {"chain", 0}};
  for (const std::pair<const char*, int>& run : scenarios) {
    const char* const scenario = run.first;
    const int verdict = run.second;
    SCOPED_TRACE(scenario);
    const process_result whole = explore({"-n", "40", QRN_PROGRAM_SCHEDULED, scenario});
    ASSERT_EQ(whole.exit_status, verdict) << whole.out << whole.err;
    EXPECT_EQ(explore({"--seeds", "1-40", QRN_PROGRAM_SCHEDULED, scenario}).out, whole.out);
    const process_result all =
        explore({"--json", "--seeds", "1-40", QRN_PROGRAM_SCHEDULED, scenario});
    EXPECT_EQ(all.exit_status, verdict);
    std::string shards;  // what the shards print, one after the other
    std::vector<std::string> joined;
    for (const char* range : {"1-17", "18-40"}) {
      const process_result shard =
          explore({"--seeds", range, "--json", QRN_PROGRAM_SCHEDULED, scenario});
      const std::vector<std::string> lines = qrn_test::lines_of(shard.out);
      ASSERT_FALSE(lines.empty()) << shard.err;
      EXPECT_EQ(shard.exit_status,
                qrn_test::count(shard.out, "\"first_difference\":{") == 0 ? 0 : 1)
          << range;
      // Each shard runs the fixed order itself, which the whole range prints once.
      joined.insert(joined.end(), lines.begin() + (joined.empty() ? 0 : 1), lines.end());
      EXPECT_EQ(lines.front(), joined.front());
      shards += shard.out;
    }
    EXPECT_EQ(joined, qrn_test::lines_of(all.out));
    const process_result merged = run_on_file(shards, merge);
    EXPECT_EQ(merged.exit_status, verdict) << merged.err;
    EXPECT_EQ(merged.out, qrn_test::lines_of(whole.out).front() + "\n");
  }
  const process_result mixed =
      run_on_file(explore({"--json", "--seeds", "1-2", QRN_PROGRAM_SCHEDULED, "merge"}).out +
                      explore({"--json", "--seeds", "3-4", QRN_PROGRAM_SCHEDULED, "chain"}).out,
                  merge);
  EXPECT_EQ(mixed.exit_status, 2);
  EXPECT_EQ(mixed.err, "qrn-explore: the shards ran different fixed-order runs\n");
}

TEST(Explorer, JsonLinesParseAndCarryEachKindOfDifference) {
  const std::string script = R"(case "$QRN_SCHEDULE_SEED" in
    2) printf 'q"b\\c\t\001\303\251\377\n' ;;
    3) echo same; exit 3 ;;
    4) printf 'same\nmore\n' ;;
    *) echo same ;;
  esac)";
  const process_result run = explore({"--json", "--seeds", "1-4", "/bin/sh", "-c", script});
  EXPECT_EQ(run.exit_status, 1) << run.err;
  const process_result parsed = run_on_file(
      run.out,
      "jq -sc '.[0].output_hash as $fixed | .[] | [.seed, .status, .output_hash == $fixed, "
      "(.output_hash | test(\"^[0-9a-f]{16}$\")), .first_difference]' FILE");
  EXPECT_EQ(parsed.exit_status, 0) << parsed.err;
  EXPECT_EQ(parsed.out,
            "[null,0,true,true,null]\n"
            "[1,0,true,true,null]\n"
            "[2,0,false,true,{\"line\":1,\"expected\":\"same\",\"got\":\"q\\\"b\\\\c\\t\\u0001"
            "\xC3\xA9\xEF\xBF\xBD\"}]\n"
            "[3,3,true,true,{\"line\":null,\"expected\":0,\"got\":3}]\n"
            "[4,0,false,true,{\"line\":2,\"expected\":null,\"got\":\"more\"}]\n");
}

TEST(Explorer, BadSeedRangesGetOneLineAndStatus2) {
  for (const std::string range : {"5-3", "0-4", "x-2", "1-", "7", "1-2-3", "-3"}) {
    const process_result run = explore({"--seeds", range, QRN_PROGRAM_SCHEDULED, "chain"});
    EXPECT_EQ(run.exit_status, 2) << range;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "qrn-explore: bad --seeds " + range +
                           ": expected A-B, whole numbers with 1 <= A <= B\n");
  }
  const std::string usage =
      "usage: qrn-explore [--json] [--time-limit S] {-n M | --seeds A-B} PROGRAM [ARGS...]   "
      "(1 <= M, 1 <= A <= B, 0 < S)\n";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--json", "--seeds", "1-3"},
        std::vector<std::string>{"-n", "2", "--seeds", "1-3", QRN_PROGRAM_SCHEDULED, "chain"},
        std::vector<std::string>{"-n", "2", "--time-limit"}}) {
    const process_result run = explore(args);
    EXPECT_EQ(run.exit_status, 2);
    EXPECT_EQ(run.err, usage);
  }
}

}  // namespace

TEST(Explorer, KillsRunsPastTheTimeLimitAndShowsWhyRunsFailed) {
  // Seed 2 hangs after its report, seed 3 fails with a report of ten lines.
  const std::string script = R"(echo same
    case "$QRN_SCHEDULE_SEED" in
    2) echo "qrn: hang: component spin has used no stream" >&2; exec sleep 60 ;;
    3) for i in 1 2 3 4 5 6 7 8 9 10; do echo "line $i" >&2; done; exit 4 ;;
    esac)";
  const process_result run =
      explore({"--time-limit", "1.5", "--seeds", "1-3", "/bin/sh", "-c", script});
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.exit_status, 1) << run.err;
  EXPECT_NE(run.out.find("2 of 3 seeds differ from the fixed order: 2 3\n"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("seed 2, first difference: exit status: unseeded 0, seeded 137\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.err,
            "qrn-explore: seed 2 ran past the time limit of 1.5 s (--time-limit) and was killed; "
            "its report begins:\n  qrn: hang: component spin has used no stream\n");

  const process_result failing = explore({"--seeds", "3-3", "/bin/sh", "-c", script});
  std::string report;
  for (int i = 1; i <= 8; ++i) {
    report += "\n  line " + std::to_string(i);
  }
  EXPECT_EQ(failing.err,
            "qrn-explore: seed 3 exited with status 4; its report begins:" + report + "\n");

  // A deadlock in the fixed order: its own hang report, not only its status.
  const process_result deadlock = explore({"-n", "1", QRN_PROGRAM_SCHEDULED, "deadlock"});
  EXPECT_EQ(deadlock.exit_status, 0) << deadlock.err;
  EXPECT_EQ(deadlock.err.rfind("qrn-explore: the fixed-order run exited with status 1; its report "
                               "begins:\n  qrn: hang: no stream element has moved",
                               0),
            0U)
      << deadlock.err;
  EXPECT_NE(deadlock.err.find("\n  qrn:   component stuck_stage waits in a blocking read of "
                              "never_written"),
            std::string::npos)
      << deadlock.err;

  for (const std::string limit : {"0", "-1", "x", "1e3", ""}) {
    const process_result bad = explore({"--time-limit", limit, "-n", "1", "/bin/true"});
    EXPECT_EQ(bad.exit_status, 2) << limit;
    EXPECT_EQ(bad.err, "qrn-explore: bad --time-limit " + limit +
                           ": expected seconds, a number above 0 (such as 30 or 2.5)\n");
  }
}
