// Streams that are locals of main, destroyed while components sleep on them,
// poll them or write them: every run ends at once with the bench's output
// and status, without a crash, a hang report or a sanitizer report, under
// every hang and report setting. Stopping the idle components is quiet;
// stderr names each stream with several readers or writers, and the report
// lists the destroyed streams and the stopped components.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/expect_runs.h"
#include "support/run_process.h"

namespace {

using qrn_test::process_result;

struct local_case {
  const char* mode;
  const char* out;
  std::size_t qrn_lines;           // stderr lines that start with "qrn: ", but the table's
  std::vector<std::string> parts;  // each somewhere on stderr
};

// Idle components stopped by the normal end of a bench are stopped quietly:
// only the sharing warnings remain on stderr.
const std::vector<local_case> cases = {
    {"sleeping", "2\n4\n6\n", 0, {}},
    {"polling", "2\n4\n6\n", 0, {}},
    {"writer",
     "1\n2\n3\n",
     1,
     {"qrn: warning: stream local_streams.cpp:23 (qrn::stream_out<int>) was left"}},
    {"pipeline", "4\n6\n8\n", 0, {}},
    {"shared",
     "both answered\n",
     2,
     {"qrn: warning: stream pipe.in (qrn::stream_in<int>) has 3 readers, where one is expected: ",
      "qrn: warning: stream local_streams.cpp:23 (qrn::stream_out<int>) has 2 writers, where one "
      "is "
      "expected: component tagger<",
      "component tagger<1>", "component tagger<2>", " and the test bench\n"}},
};

void expect_clean_run(const process_result& result, const local_case& c) {
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(result.out, c.out);
  for (const char* bad : {"Sanitizer", "runtime error"}) {
    EXPECT_EQ(result.err.find(bad), std::string::npos) << result.err;
  }
  std::size_t qrn_lines = 0;
  for (const std::string& line : qrn_test::lines_of(result.err)) {
    qrn_lines += line.rfind("qrn: ", 0) == 0 && line != "qrn: run report";
  }
  EXPECT_EQ(qrn_lines, c.qrn_lines) << result.err;
  for (const std::string& part : c.parts) {
    EXPECT_NE(result.err.find(part), std::string::npos) << part << "\n" << result.err;
  }
}

// Every case under each setting; the report, on stderr or in the file,
// lists the destroyed streams (local_streams.cpp:23 with three elements through it,
// but in the writer and shared cases) and the stopped components.
TEST(LocalStreams, DestroyedWhileInUseEndsPromptlyUnderEveryHangAndReportSetting) {
  const qrn_test::short_tsan_exit_watch short_watch;
  const std::string json = ::testing::TempDir() + "local_" + std::to_string(::getpid()) + ".json";
  const std::vector<std::vector<std::string>> settings = {
      {}, {"QRN_HANG_AFTER=0", "QRN_REPORT=table"}, {"QRN_HANG_AFTER=0.2", "QRN_REPORT=" + json}};
  for (const local_case& c : cases) {
    for (const std::vector<std::string>& env : settings) {
      for (int i = 0; i < 17; ++i) {  // about 50 runs per case
        std::remove(json.c_str());
        // Ends at once; the limit only catches a hang, with room for sanitizers.
        const process_result result = qrn_test::run_process({QRN_PROGRAM_LOCAL_STREAMS, c.mode},
                                                            std::chrono::seconds(10), env);
        SCOPED_TRACE(std::string(c.mode) + " run " + std::to_string(i) +
                     (env.empty() ? "" : " with " + env[0]));
        expect_clean_run(result, c);
        const bool to_file = env.size() == 2 && env[1] != "QRN_REPORT=table";
        std::stringstream report(to_file ? ""
                                         : std::regex_replace(result.err, std::regex(" +"), " "));
        if (to_file) {
          report << std::ifstream(json).rdbuf();
        }
        if (!env.empty()) {
          const std::string parts[] = {
              to_file ? "{\"name\": \"local_streams.cpp:23\", \"type\": \"qrn::stream_out<int>\", "
                        "\"written\": 3, \"read\": 3"
                      : "\nlocal_streams.cpp:23 qrn::stream_out<int> 3 3",
              to_file ? "\"destroyed\": true" : " (destroyed)\n",
              to_file ? "\"stopped\": true" : "(stopped)\n"};
          for (std::size_t p = std::string("writer shared").find(c.mode) == std::string::npos ? 0
                                                                                              : 1;
               p < 3; ++p) {
            EXPECT_NE(report.str().find(parts[p]), std::string::npos) << report.str();
          }
        }
        if (::testing::Test::HasFailure()) {
          return;
        }
      }
    }
  }
}

}  // namespace
