// Streams that are locals of main, destroyed while components sleep on them,
// poll them or write them: every run ends at once with the bench's output
// and status, no crash, no hang report and no sanitizer report, under every
// hang and report setting; one line names each stream a component waited
// on, and the report lists the destroyed streams and the stopped components.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/expect_runs.h"
#include "support/report_table.h"
#include "support/run_process.h"

namespace {

using qrn_test::process_result;

struct local_case {
  const char* mode;
  const char* out;
  std::vector<std::string> waited_on;  // the lines naming streams destroyed while waited on
};

const std::string in_line = "qrn: stream pipe.in (qrn::stream_in<int>) was destroyed while ";

const std::vector<local_case> cases = {
    {"sleeping", "2\n4\n6\n", {in_line + "component doubler still waited on it"}},
    {"polling", "2\n4\n6\n", {in_line + "component polling_doubler still waited on it"}},
    {"writer", "1\n2\n3\n", {}},
    {"pipeline",
     "4\n6\n8\n",
     {"qrn: stream pipe.mid (qrn::internal::stream<int>) was destroyed while component "
      "second_stage still waited on it",
      in_line + "component first_stage still waited on it"}},
};

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t found = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++found;
  }
  return found;
}

process_result run(const local_case& c, const std::vector<std::string>& env) {
  // Ends at once; the limit only catches a hang, with room for sanitizers.
  return qrn_test::run_process({QRN_PROGRAM_LOCAL_STREAMS, c.mode}, std::chrono::seconds(10), env);
}

void expect_clean_run(const process_result& result, const local_case& c) {
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.term_signal, 0);
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out, c.out);
  for (const char* bad : {"Sanitizer", "runtime error", "qrn: hang"}) {
    EXPECT_EQ(result.err.find(bad), std::string::npos) << result.err;
  }
  EXPECT_EQ(count(result.err, "was destroyed while"), c.waited_on.size()) << result.err;
  for (const std::string& line : c.waited_on) {
    EXPECT_EQ(count(result.err, line), 1U) << result.err;
  }
}

TEST(LocalStreams, DestroyedWhileInUseEndsPromptlyUnderEveryHangAndReportSetting) {
  const qrn_test::short_tsan_exit_watch short_watch;
  const std::string json =
      ::testing::TempDir() + "local_streams_" + std::to_string(::getpid()) + ".json";
  const std::vector<std::vector<std::string>> settings = {
      {}, {"QRN_HANG_AFTER=0"}, {"QRN_HANG_AFTER=0.2", "QRN_REPORT=" + json}};
  constexpr int runs = 17;  // per case and setting: about 50 per case
  for (const local_case& c : cases) {
    for (const std::vector<std::string>& env : settings) {
      for (int i = 0; i < runs; ++i) {
        std::remove(json.c_str());
        const process_result result = run(c, env);
        SCOPED_TRACE(std::string(c.mode) + " run " + std::to_string(i) +
                     (env.empty() ? "" : " with " + env[0]));
        expect_clean_run(result, c);
        if (env.size() == 2) {
          std::ifstream file(json);
          std::stringstream text;
          text << file.rdbuf();
          qrn_test::expect_contains_all(
              text.str(),
              {"{\"name\": \"local_streams.cpp:21\", \"type\": \"qrn::stream_out<int>\"",
               "\"destroyed\": true", "\"stopped\": true"});
        }
        if (::testing::Test::HasFailure()) {
          return;
        }
      }
    }
  }
}

TEST(LocalStreams, TheTableListsDestroyedStreamsAsTheyWereAndStoppedComponents) {
  const process_result result = run(cases[3], {"QRN_REPORT=table"});
  expect_clean_run(result, cases[3]);
  const auto rows = qrn_test::table_rows(result.err);
  using row = std::vector<std::string>;
  const row& in = rows.at("pipe.in");  // type, written, read, peak, now, asleep, depth, mark
  EXPECT_EQ(row(in.begin(), in.begin() + 3), (row{"qrn::stream_in<int>", "3", "3"}));
  EXPECT_EQ(in.back(), "(destroyed)");
  EXPECT_EQ(rows.at("pipe.mid").at(7), "(destroyed)");
  EXPECT_EQ(rows.at("local_streams.cpp:21").at(2), "3");  // named by its declaration
  const row& first = rows.at("first_stage");  // calls, moving calls, asleep, waiting on, mark
  EXPECT_EQ(row(first.begin(), first.begin() + 2), (row{"3", "3"}));
  EXPECT_EQ(first.back(), "(stopped)");
  EXPECT_EQ(rows.at("second_stage").back(), "(stopped)");
}

}  // namespace
