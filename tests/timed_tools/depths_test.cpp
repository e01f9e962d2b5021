// qrn-depths on whole programs: the bursts program (programs/bursts.cpp),
// the fifo_depth example's deadlock, and its usage errors.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_process.h"

namespace {

using qrn_test::process_result;

process_result depths(std::vector<std::string> args) {
  args.insert(args.begin(), QRN_PROGRAM_DEPTHS);
  return qrn_test::run_process(args, std::chrono::seconds(120));
}

// qrn-depths' output, parsed: the rows by stream name (declared, no
// deadlock, full speed), the notes and the three cycle lines by what follows
// "cycles ".
struct depth_table {
  std::map<std::string, std::vector<std::string>> rows;
  std::vector<std::string> notes;
  std::map<std::string, std::string> cycles;
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
    } else if (line.compare(0, 2, "? ") == 0) {
      table.notes.push_back(line.substr(2, line.find(':') - 2));
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

TEST(QrnDepths, BurstsNeedNineSlotsForFullSpeed) {
  const process_result result = depths({QRN_PROGRAM_BURSTS});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(qrn_test::lines_of(result.out).front(), "stream   declared  no deadlock  full speed");
  const depth_table table = parsed(result.out);
  EXPECT_EQ(table.rows.at("samples"), (std::vector<std::string>{"2", "1", "9"}));
  EXPECT_EQ(table.rows.at("sums"), (std::vector<std::string>{"-", "1", "1"}));
  EXPECT_TRUE(table.notes.empty());
  // 640 samples, one every 2 cycles, are the pace; the declared depth 2 holds
  // the producer up in every burst.
  const std::uint64_t best = number(table.cycles.at("unbounded"));
  EXPECT_GE(best, 1280U);
  EXPECT_LE(best, 1300U);
  EXPECT_GT(number(table.cycles.at("at the declared depths")), best * 101 / 100);
  EXPECT_LE(number(table.cycles.at("at the full-speed depths")) * 100, best * 101);
  // The README shows this output.
  std::ifstream readme_file(QRN_README);
  std::stringstream readme;
  readme << readme_file.rdbuf();
  EXPECT_NE(readme.str().find("$ build/tools/qrn-depths build/tests/timed_tools/timed_bursts\n" +
                              result.out + "```"),
            std::string::npos);
}

TEST(QrnDepths, StreamsOverridesCannotAddressAreLeftOutWithANote) {
  const process_result result = depths({QRN_PROGRAM_BURSTS, "with-unaddressable-streams"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  const depth_table table = parsed(result.out);
  EXPECT_EQ(table.rows.at("samples"), (std::vector<std::string>{"2", "1", "9"}));
  EXPECT_EQ(table.rows.at("left,right"), (std::vector<std::string>{"-", "?", "?"}));
  EXPECT_EQ(table.rows.at("twin"), (std::vector<std::string>{"-", "?", "?"}));
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

TEST(QrnDepths, UsageErrorsAndProgramsThatCannotBeMeasured) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "usage: qrn-depths PROGRAM [ARGS...]\n"},
      {{"--json", QRN_PROGRAM_BURSTS}, "usage: qrn-depths PROGRAM [ARGS...]\n"},
      {{"/nonexistent/program"}, "qrn-depths: cannot run /nonexistent/program\n"},
      {{"/bin/sh", "-c", "exit 3"},
       "qrn-depths: /bin/sh exited with status 3 in a timed run with unbounded streams\n"},
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
