// qrn-depths on whole programs: the bursts program (programs/bursts.cpp),
// the fifo_depth example's deadlock, seed ranges and their JSON lines, and its
// usage errors.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "json_text.h"
#include "support/run_process.h"

namespace {

using qrn_test::process_result;

process_result depths(std::vector<std::string> args) {
  args.insert(args.begin(), QRN_PROGRAM_DEPTHS);
  return qrn_test::run_process(args, std::chrono::seconds(120));
}

// qrn-depths' output, parsed: the rows by stream name (declared, no
// deadlock, full speed), the notes, the line on the bench's own streams, the
// three cycle lines by what follows "cycles " and, with --seeds, the line on
// the seeds.
struct depth_table {
  std::map<std::string, std::vector<std::string>> rows;
  std::vector<std::string> notes;
  std::string bench_streams;
  std::map<std::string, std::string> cycles;
  std::string seeds;
};

depth_table parsed(const std::string& out) {
  depth_table table;
  const std::vector<std::string> lines = qrn_test::lines_of(out);
  EXPECT_FALSE(lines.empty());
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::size_t colon = line.find(": ");
    if (line.compare(0, 7, "cycles ") == 0 && colon != std::string::npos) {
      table.cycles[line.substr(7, colon - 7)] = line.substr(colon + 2);
    } else if (line.compare(0, 6, "seeds ") == 0) {
      table.seeds = line;
    } else if (line.compare(0, 2, "? ") == 0) {
      table.notes.push_back(line.substr(2, line.find(':') - 2));
    } else if (line.compare(0, 2, "- ") == 0) {
      table.bench_streams = line;
    } else {
      std::istringstream words(line);
      std::string name;
      std::vector<std::string> columns(3);
      words >> name >> columns[0] >> columns[1] >> columns[2];
      EXPECT_FALSE(columns[2].empty()) << line;
      table.rows[name] = columns;
    }
  }
  return table;
}

std::uint64_t number(const std::string& text) {
  EXPECT_EQ(text.find_first_not_of("0123456789"), std::string::npos) << text;
  return std::stoull(text);
}

// A design, in shell, whose depths depend on the seed: it writes the timed
// report of one stream `s`, declared depth 2, that keeps the pace from depth
// 3, 4, 2 and 3 under seeds 1 to 4 (seed % 3 + 2), and is slower only at the
// declared depths; under seed 5 it fails.
const std::string seeded_design = R"(need=$((QRN_SCHEDULE_SEED % 3 + 2))
[ "$QRN_SCHEDULE_SEED" = 5 ] && exit 3
depth=${QRN_DEPTH_OVERRIDE#s=}
cycles=100
[ "$QRN_DEPTH" = declared ] && [ "${depth:-2}" -lt $need ] && cycles=150
printf '{"cycles":{"total":%s},"streams":[{"name":"s","depth":%s,"peak":%s,"cycles":{"peak":1}}]}' \
  $cycles "${depth:-2}" $need > "$QRN_REPORT"
echo done)";

process_result seeded_depths(std::vector<std::string> options) {
  options.insert(options.end(), {"/bin/sh", "-c", seeded_design});
  return depths(options);
}

// The larger of two figures in the table's words: a figure that is no number
// ("?", "none") wins; "" is no figure yet.
std::string larger(const std::string& a, const std::string& b) {
  const auto is_number = [](const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
  };
  if (a.empty() || !is_number(b)) {
    return a.empty() || is_number(a) ? b : a;
  }
  return !is_number(a) || std::stoull(a) >= std::stoull(b) ? a : b;
}

// qrn-depths --json lines (of any runs, in any order) merged by seed, as the
// table over a seed range reads: by stream name, the declared depth and the
// largest depths ("?" when a seed has none), the largest cycle counts
// ("none" when a seed has none), and the seeds (0: null) whose line, but for
// its seed, differs from the lowest seed's.
struct merged_lines {
  depth_table table;
  std::vector<std::uint64_t> differing;
  std::vector<std::uint64_t> failed;
};

merged_lines merged(const std::string& out) {
  std::map<std::uint64_t, std::string> by_seed;
  for (const std::string& line : qrn_test::lines_of(out)) {
    const nlohmann::json value = nlohmann::json::parse(line, nullptr, false);
    const bool complete = value.contains("seed") && value.contains("streams");
    EXPECT_TRUE(complete) << line;
    if (complete) {
      EXPECT_TRUE(by_seed.emplace(qrn_tools::whole_at(value, "/seed").value_or(0), line).second)
          << line;
    }
  }
  merged_lines m;
  const auto text = [](const nlohmann::json& value, const char* key, const std::string& none) {
    const std::optional<std::uint64_t> number = qrn_tools::whole_at(value, key);
    return number ? std::to_string(*number) : none;
  };
  const auto after_seed = [](const std::string& line) { return line.substr(line.find(',')); };
  for (const auto& entry : by_seed) {
    if (after_seed(entry.second) != after_seed(by_seed.begin()->second)) {
      m.differing.push_back(entry.first);
    }
    const nlohmann::json line = nlohmann::json::parse(entry.second);
    if (line.at("status") == "failed") {
      m.failed.push_back(entry.first);
    }
    for (const nlohmann::json& stream : line.at("streams")) {
      std::vector<std::string>& row = m.table.rows[stream.at("name").get<std::string>()];
      row.resize(3);
      row[0] = row[0].empty() ? text(stream, "/declared", "-") : row[0];
      const std::string unsearched = stream.at("bench_buffer").get<bool>() ? "-" : "?";
      row[1] = larger(row[1], text(stream, "/no_deadlock", unsearched));
      row[2] = larger(row[2], text(stream, "/full_speed", unsearched));
    }
    for (const auto& cycles : {std::make_pair("unbounded", "/cycles_unbounded"),
                               std::make_pair("at the declared depths", "/cycles_declared"),
                               std::make_pair("at the full-speed depths", "/cycles_suggested")}) {
      std::string& figure = m.table.cycles[cycles.first];
      figure = larger(figure, text(line, cycles.second, "none"));
    }
  }
  return m;
}

TEST(QrnDepths, BurstsNeedNineSlotsForFullSpeed) {
  const process_result result = depths({QRN_PROGRAM_BURSTS});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  // Every probe (1, 3, 7, then halving up to 9), and the declared and
  // full-speed depths, valued on the graph.
  EXPECT_EQ(result.err,
            "qrn-depths: the event graph valued 9 of 9 candidates; 0 needed a real run\n");
  EXPECT_EQ(qrn_test::lines_of(result.out).front(), "stream   declared  no deadlock  full speed");
  const depth_table table = parsed(result.out);
  EXPECT_EQ(table.rows.at("samples"), (std::vector<std::string>{"2", "1", "9"}));
  // The bench reads `sums`, which declares no depth: the bench's own buffer.
  EXPECT_EQ(table.rows.at("sums"), (std::vector<std::string>{"-", "-", "-"}));
  EXPECT_EQ(table.bench_streams,
            "- sums: the test bench's own stream (no declared depth), left unbounded in every run");
  EXPECT_TRUE(table.notes.empty());
  // 640 samples, one every 2 cycles, are the pace; the declared depth 2 holds
  // the producer up in every burst.
  const std::uint64_t best = number(table.cycles.at("unbounded"));
  EXPECT_GE(best, 1280U);
  EXPECT_LE(best, 1300U);
  EXPECT_GT(number(table.cycles.at("at the declared depths")), best * 101 / 100);
  EXPECT_LE(number(table.cycles.at("at the full-speed depths")) * 100, best * 101);
  // docs/timed.md shows this output.
  std::ifstream page_file(QRN_SIZING_PAGE);
  std::stringstream page;
  page << page_file.rdbuf();
  EXPECT_NE(page.str().find("$ build/tools/qrn-depths build/tests/timed_tools/timed_bursts\n" +
                            result.out + "```"),
            std::string::npos);
}

TEST(QrnDepths, StreamsOverridesCannotAddressAreLeftOutWithANote) {
  const process_result result = depths({QRN_PROGRAM_BURSTS, "with-unaddressable-streams"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  const depth_table table = parsed(result.out);
  EXPECT_EQ(table.rows.at("samples"), (std::vector<std::string>{"2", "1", "9"}));
  EXPECT_EQ(table.rows.at("left,right"), (std::vector<std::string>{"1", "?", "?"}));
  EXPECT_EQ(table.rows.at("twin"), (std::vector<std::string>{"1", "?", "?"}));
  EXPECT_EQ(table.notes, (std::vector<std::string>{"left,right", "twin"}));
}

TEST(QrnDepths, DeadlockDepthsAndADeadlockAtTheDeclaredDepths) {
#ifndef QRN_EXAMPLE_FIFO_DEPTH
  GTEST_SKIP() << "the examples are not built";
#else
  const process_result result = depths({QRN_EXAMPLE_FIFO_DEPTH});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  const depth_table table = parsed(result.out);
  // A frame of four is written to `wide` before its length goes to `narrow`.
  EXPECT_EQ(table.rows.at("wide"), (std::vector<std::string>{"2", "4", "5"}));
  EXPECT_EQ(table.rows.at("narrow"), (std::vector<std::string>{"2", "1", "1"}));
  EXPECT_EQ(table.cycles.at("at the declared depths"), "none: exit status 1 (unbounded: 0)");
  EXPECT_EQ(table.cycles.at("at the full-speed depths"), table.cycles.at("unbounded"));
#endif
}

TEST(QrnDepths, SeedRangesShardIntoJsonLinesThatMergeAsTheWholeRangesTable) {
  const process_result whole_table = seeded_depths({"--seeds", "1-4"});
  ASSERT_EQ(whole_table.exit_status, 0) << whole_table.err;
  const depth_table table = parsed(whole_table.out);
  EXPECT_EQ(table.rows.at("s"), (std::vector<std::string>{"2", "1", "4"}));
  EXPECT_EQ(table.cycles.at("at the declared depths"), "150");
  EXPECT_EQ(table.seeds, "seeds 1-4: 2 of 4 give depths or cycle counts other than seed 1's: 2 3");
  const process_result whole = seeded_depths({"--json", "--seeds", "1-4"});
  EXPECT_EQ(whole.exit_status, 0) << whole.err;
  EXPECT_EQ(qrn_test::lines_of(whole.out).size(), 4U) << whole.out;
  std::string shards;  // the later half first: the merge orders lines by seed
  for (const char* range : {"3-4", "1-2"}) {
    const process_result shard = seeded_depths({"--seeds", range, "--json"});
    EXPECT_EQ(shard.exit_status, 0) << range << shard.err;
    shards += shard.out;
  }
  for (const std::string& out : {whole.out, shards}) {
    SCOPED_TRACE(out);
    const merged_lines merged_out = merged(out);
    EXPECT_EQ(merged_out.table.rows, table.rows);
    EXPECT_EQ(merged_out.table.cycles, table.cycles);
    EXPECT_EQ(merged_out.differing, (std::vector<std::uint64_t>{2, 3}));
    EXPECT_TRUE(merged_out.failed.empty());
  }

  // A timed program, whose seeds agree; without --seeds, one line with seed null.
  const process_result unseeded = depths({QRN_PROGRAM_BURSTS, "with-unaddressable-streams"});
  const process_result seeded =
      depths({"--seeds", "1-2", QRN_PROGRAM_BURSTS, "with-unaddressable-streams"});
  ASSERT_EQ(seeded.exit_status, 0) << seeded.err;
  EXPECT_EQ(seeded.out, unseeded.out + "seeds 1-2: all 2 give the same depths and cycle counts\n");
  const process_result line = depths({"--json", QRN_PROGRAM_BURSTS, "with-unaddressable-streams"});
  EXPECT_EQ(line.exit_status, 0) << line.err;
  EXPECT_EQ(line.out.compare(0, 14, "{\"seed\":null,\""), 0) << line.out;
  std::string lines = line.out;
  for (const char* range : {"2-2", "1-1"}) {
    lines +=
        depths({"--json", "--seeds", range, QRN_PROGRAM_BURSTS, "with-unaddressable-streams"}).out;
  }
  const merged_lines from_lines = merged(lines);
  EXPECT_EQ(from_lines.table.rows, parsed(seeded.out).rows);
  EXPECT_EQ(from_lines.table.cycles, parsed(seeded.out).cycles);
  EXPECT_TRUE(from_lines.differing.empty());
}

TEST(QrnDepths, ASeedWhoseRunFailsGivesAFailedLineOrStopsTheTable) {
  const std::string error = "/bin/sh exited with status 3 in a timed run with unbounded streams";
  const process_result lines = seeded_depths({"--json", "--seeds", "4-5"});
  EXPECT_EQ(lines.exit_status, 1) << lines.err;
  EXPECT_EQ(lines.err, "");
  const merged_lines m = merged(lines.out);
  EXPECT_EQ(m.failed, (std::vector<std::uint64_t>{5}));
  EXPECT_EQ(m.differing, (std::vector<std::uint64_t>{5}));
  EXPECT_EQ(m.table.cycles.at("unbounded"), "none");
  EXPECT_EQ(m.table.rows.at("s"), (std::vector<std::string>{"2", "1", "3"}));
  EXPECT_NE(lines.out.find(R"({"seed":5,"status":"failed","error":")" + error + "\""),
            std::string::npos)
      << lines.out;
  const process_result table = seeded_depths({"--seeds", "4-5"});
  EXPECT_EQ(table.exit_status, 2);
  EXPECT_EQ(table.err, "qrn-depths: seed 5: " + error + "\n");
  EXPECT_EQ(table.out, "");
}

TEST(QrnDepths, UsageErrorsAndProgramsThatCannotBeMeasured) {
  const std::string usage =
      "usage: qrn-depths [--seeds A-B] [--json] [--verify] [--rerun] [--joint] [--slack P%] "
      "[--plot FILE.svg] [--time-limit S] PROGRAM [ARGS...]   (1 <= A <= B)\n";
  const auto bad_range = [](const std::string& range) {
    return "qrn-depths: bad --seeds " + range + ": expected A-B, whole numbers with 1 <= A <= B\n";
  };
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, usage},
      {{"--json"}, usage},
      {{"--verbose", QRN_PROGRAM_BURSTS}, usage},
      {{"--json", "--json", QRN_PROGRAM_BURSTS}, usage},
      {{"--seeds", "1-2", "--seeds", "3-4", QRN_PROGRAM_BURSTS}, usage},
      {{"--seeds"}, usage},
      {{"--seeds", "5-3", QRN_PROGRAM_BURSTS}, bad_range("5-3")},
      {{"--json", "--seeds", "0-2", QRN_PROGRAM_BURSTS}, bad_range("0-2")},
      {{"--seeds", "2", QRN_PROGRAM_BURSTS}, bad_range("2")},
      {{"--slack", "fast", QRN_PROGRAM_BURSTS},
       "qrn-depths: --slack fast: expected a percentage such as 1%\n"},
      {{"--slack", "-1%", QRN_PROGRAM_BURSTS},
       "qrn-depths: --slack -1%: expected a percentage such as 1%\n"},
      {{"--time-limit", "0", QRN_PROGRAM_BURSTS},
       "qrn-depths: bad --time-limit 0: expected seconds, a number above 0 (such as 30 or 2.5)\n"},
      {{"--time-limit", "0.5", "/bin/sh", "-c", "echo 'started' >&2; exec sleep 30"},
       "qrn-depths: /bin/sh ran past the time limit of 0.5 s (--time-limit) and was killed in a "
       "timed run with unbounded streams; its report begins:\n  started\n"},
      {{"/nonexistent/program"}, "qrn-depths: cannot run /nonexistent/program\n"},
      {{"/bin/sh", "-c", "exit 3"},
       "qrn-depths: /bin/sh exited with status 3 in a timed run with unbounded streams\n"},
      {{"/bin/sh", "-c", "echo 'qrn: hang: a' >&2; echo '  b' >&2; exit 1"},
       "qrn-depths: /bin/sh exited with status 1 in a timed run with unbounded streams; its "
       "report begins:\n  qrn: hang: a\n    b\n"},
      {{"/bin/true"},
       "qrn-depths: /bin/true wrote no timed run report (QRN_TIME=cycles, QRN_REPORT); does it "
       "link qrn::runtime?\n"},
  };
  for (const auto& c : cases) {
    const process_result result = depths(c.first);
    EXPECT_EQ(result.exit_status, 2) << c.second;
    EXPECT_EQ(result.err, c.second);
    EXPECT_EQ(result.out, "");
  }
}

}  // namespace
