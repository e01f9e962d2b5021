// The diagnostics seen from whole runs of programs/diagnosed_run.cpp: names
// and counts in the table, the end-of-run report on every way a process
// ends, leftover warnings, hang reports (and no false ones), the line beside
// a fatal error, and bad settings.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/report_table.h"
#include "support/run_process.h"

namespace {

using qrn_test::count;
using qrn_test::process_result;
using qrn_test::run_process;

process_result run(const std::vector<std::string>& args, const std::vector<std::string>& env,
                   std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  std::vector<std::string> argv{QRN_PROGRAM_DIAGNOSED_RUN};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_process(argv, limit, env);
}

// The number of seconds written after `prefix` in `text`, or -1.
double seconds_after(const std::string& text, const std::string& prefix) {
  const std::size_t at = text.find(prefix);
  return at == std::string::npos ? -1 : std::stod(text.substr(at + prefix.size()));
}

TEST(Diagnostics, NamesStreamsAndComponentsAndCountsWhatTheyDid) {
  const process_result result = run({"names"}, {"QRN_REPORT=off"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  const auto rows = qrn_test::table_rows(result.out);
  using row = std::vector<std::string>;
  const auto counts = [&](const std::string& name) {  // type, written, read, peak, now
    const row& fields = rows.at(name);
    return row(fields.begin(), fields.begin() + 5);
  };
  EXPECT_EQ(counts("adc_samples"), (row{"qrn::stream_in<int>", "1", "1", "1", "0"}));
  EXPECT_EQ(counts("mid"), (row{"qrn::internal::stream<int>", "1", "1", "1", "0"}));
  EXPECT_EQ(counts("dut::samples"), (row{"qrn::stream_in<int>", "1", "1", "1", "0"}));
  EXPECT_EQ(counts("local_results"), (row{"qrn::stream_out<int>", "0", "0", "0", "0"}));
  // Parts of global variables: array elements from the symbol table alone,
  // members and the indices of a 2-D array from debug information.
  EXPECT_EQ(counts("lanes[2]"), (row{"qrn::stream_in<int>", "2", "2", "2", "0"}));
  EXPECT_EQ(rows.at("lanes[0]").at(1), "0");
  if (QRN_RUNTIME_READS_DEBUG_INFO) {
    EXPECT_EQ(counts("grid[1][2]"), (row{"qrn::internal::stream<int>", "3", "3", "3", "0"}));
    EXPECT_EQ(counts("fe.stage.results"), (row{"qrn::stream_out<int>", "4", "4", "4", "0"}));
    EXPECT_EQ(counts("fe.samples"), (row{"qrn::stream_out<int>", "5", "5", "5", "0"}));
    EXPECT_EQ(counts("fe.taps[1]"), (row{"qrn::stream_in<int>", "6", "6", "6", "0"}));
    EXPECT_EQ(rows.count("fe.stage.samples"), 1u);
    EXPECT_EQ(rows.at("link_[3][15]").at(1), "9");
    EXPECT_EQ(rows.at("pair_of.samples").at(1), "10");
  } else {
    EXPECT_EQ(counts("grid[5]"), (row{"qrn::internal::stream<int>", "3", "3", "3", "0"}));
  }
  EXPECT_EQ(counts("d"), (row{"qrn::internal::stream<int>", "1", "1", "1", "0"}));
  EXPECT_EQ(rows.at("in").at(1), "5");
  EXPECT_EQ(rows.at("out").at(2), "5");
  const row& local = rows.at("local");  // named after its declaration: `local (FILE:LINE)`
  EXPECT_EQ(local.at(0).rfind("(diagnosed_run.cpp:", 0), 0u) << result.out;
  EXPECT_EQ(row(local.begin() + 1, local.begin() + 6),
            (row{"qrn::internal::stream<int>", "2", "1", "2", "1"}));
  EXPECT_NE(result.out.find("\ndoubler "), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("\ndut::stage<3> "), std::string::npos) << result.out;
  EXPECT_EQ(result.err, "");
}

// From the symbol tables alone: an element of an array by the extents that
// its declaration gives, a member of a global by its declaration line, never
// as if it were an array element.
TEST(Diagnostics, NamesPartsOfGlobalsWithoutDebugInformation) {
  const process_result result = run_process({QRN_PROGRAM_SYMBOLS_ONLY, "names"},
                                            std::chrono::seconds(60), {"QRN_REPORT=off"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  const auto rows = qrn_test::table_rows(result.out);
  EXPECT_EQ(rows.at("lanes[2]").at(1), "2") << result.out;
  EXPECT_EQ(rows.at("grid[1][2]").at(1), "3") << result.out;
  EXPECT_EQ(rows.at("link_[3][15]").at(1), "9") << result.out;
  EXPECT_EQ(rows.at("link_[0][0]").at(1), "0") << result.out;
  std::vector<std::string> members;  // written counts of the rows named by a declaration line
  for (const auto& row : rows) {
    EXPECT_NE(row.first.rfind("pair_of", 0), 0u) << row.first;
    EXPECT_NE(row.first.rfind("fe", 0), 0u) << row.first;
  }
  for (const std::string& line : qrn_test::lines_of(result.out)) {
    if (line.rfind("diagnosed_run.cpp:", 0) == 0) {
      std::istringstream fields(line);
      std::string name, type, written;
      fields >> name >> type >> written;
      members.push_back(type + " " + written);
    }
  }
  for (const char* member : {"qrn::stream_out<int> 4", "qrn::stream_out<int> 5",
                             "qrn::stream_in<int> 6", "qrn::stream_out<int> 10"}) {
    EXPECT_NE(std::find(members.begin(), members.end(), member), members.end()) << member << "\n"
                                                                                << result.out;
  }
}

// Streams the report meets only once they are destroyed, named as readably
// with debug information as from the symbol tables alone.
TEST(Diagnostics, NamesStreamsMetOnlyAfterTheirDestruction) {
  for (const char* program : {QRN_PROGRAM_DIAGNOSED_RUN, QRN_PROGRAM_SYMBOLS_ONLY}) {
    SCOPED_TRACE(program);
    const process_result result =
        run_process({program, "late"}, std::chrono::seconds(60), {"QRN_REPORT=table"});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, "done\n");
    const auto rows = qrn_test::table_rows(result.err);
    using row = std::vector<std::string>;
    // Locals declared on one line: each by its identifier, both at that line.
    ASSERT_EQ(rows.count("first"), 1u) << result.err;
    ASSERT_EQ(rows.count("second"), 1u) << result.err;
    const std::string line = rows.at("first").at(0);
    EXPECT_EQ(line.rfind("(diagnosed_run.cpp:", 0), 0u) << result.err;
    EXPECT_EQ(row(rows.at("first").begin(), rows.at("first").begin() + 3),
              (row{line, "qrn::stream_out<int>", "1"}));
    EXPECT_EQ(row(rows.at("second").begin(), rows.at("second").begin() + 3),
              (row{line, "qrn::stream_out<int>", "2"}));
    // A function template's static locals: the short function name tells
    // the instances apart.
    qrn_test::expect_contains_all(
        result.err,
        {"qrn: warning: stream keep_in_buffer<1>::buf (qrn::internal::stream<int>) was left "
         "holding 1 element; nobody ever read it: 2\n",
         "qrn: warning: stream keep_in_buffer<2>::buf (qrn::internal::stream<int>) was left "
         "holding 1 element; nobody ever read it: 4\n",
         "qrn: warning: stream lanes[1] (qrn::stream_in<int>) was left holding 1 element; "
         "nobody ever read it: 4\n"});
    EXPECT_EQ(rows.at("lanes[1]").at(0), "qrn::stream_in<int>") << result.err;
    EXPECT_EQ(rows.at("keep_in_buffer<2>::buf").at(1), "1") << result.err;
    EXPECT_EQ(rows.count("tally(int)::count") + rows.count("tally(long)::count"), 2u) << result.err;
  }
}

TEST(Diagnostics, EveryWayOfEndingWritesTheTableOnce) {
  struct ending {
    std::vector<std::string> args;
    std::vector<std::string> env;
    int status;
  };
  const std::vector<ending> endings{
      {{"names", "return"}, {}, 0}, {{"names", "exit"}, {}, 3},
      {{"fatal"}, {}, 1},           {{"hang"}, {"QRN_HANG_AFTER=0.1", "QRN_ON_HANG=exit"}, 1},
      {{"leftover"}, {}, 0},
  };
  for (const ending& e : endings) {
    std::vector<std::string> env = e.env;
    env.push_back("QRN_REPORT=table");
    const process_result result = run(e.args, env);
    SCOPED_TRACE(e.args[0] + " " + (e.args.size() > 1 ? e.args[1] : ""));
    EXPECT_EQ(result.exit_status, e.status) << result.err;
    EXPECT_EQ(count(result.err, "qrn: run report\n"), e.args[0] == "hang" ? 2u : 1u) << result.err;
  }
}

TEST(Diagnostics, WarnsOfStreamsLeftHoldingElements) {
  const process_result result = run({"leftover"}, {});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out, "done\n");
  EXPECT_NE(result.err.find("qrn: warning: stream kept (qrn::internal::stream<int>) was left "
                            "holding 5 elements; 1 of 6 written were read: 10, 20, 30, 40, ...\n"),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("qrn: warning: stream misrouted (qrn::stream_in<int>) was left "
                            "holding 1 element; nobody ever read it: 5\n"),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("holding 1 element; nobody ever read it\n"), std::string::npos)
      << "the element type without operator<< gets no values: " << result.err;
  EXPECT_EQ(count(result.err, "qrn: warning:"), 3u) << result.err;
}

TEST(Diagnostics, ReportsAHangByNameAndExitsWhenAsked) {
  const process_result result = run({"hang"}, {"QRN_HANG_AFTER=0.1", "QRN_ON_HANG=exit"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.out, "");
  qrn_test::expect_contains_all(
      result.err,
      {"qrn: hang: no stream element has moved for ",
       "qrn:   the test bench waits in a blocking read of out (qrn::stream_out<int>) for ",
       "qrn:   component offset waits in a blocking read of mid (qrn::internal::stream<int>) "
       "for ",
       "qrn:   component dut::stage<3> keeps polling; the last stream it found empty: "
       "dut::samples (qrn::stream_in<int>)\n",
       "qrn:   stream misrouted (qrn::stream_in<int>) holds 1 element(s) that no one reads: 4\n",
       "qrn: ending the process with status 1 (QRN_ON_HANG=exit)\n"});
  EXPECT_EQ(result.err.find("set QRN_ON_HANG=exit"), std::string::npos) << result.err;
  // The durations agree: nothing moved for at least QRN_HANG_AFTER, counted
  // from the start of the last sleep, and the table counts sleeps in
  // progress. Each duration is printed to 0.1 s, so two of them may differ
  // by 0.1 from rounding alone, on top of the scheduling slack.
  const double stuck = seconds_after(result.err, "no stream element has moved for ");
  const double bench = seconds_after(result.err,
                                     "the test bench waits in a blocking read of out "
                                     "(qrn::stream_out<int>) for ");
  const double offset = seconds_after(result.err,
                                      "component offset waits in a blocking read of "
                                      "mid (qrn::internal::stream<int>) for ");
  EXPECT_GE(stuck, 0.1) << result.err;
  const double slack = 0.1 + 0.05;
  EXPECT_LE(stuck, std::max(bench, offset) + slack) << result.err;
  EXPECT_GE(stuck, std::min(bench, offset) - slack) << result.err;
  const auto rows = qrn_test::table_rows(result.err);
  EXPECT_GT(std::stod(rows.at("offset").at(2)), 0.0) << result.err;  // asleep s
  EXPECT_GT(std::stod(rows.at("mid").at(5)), 0.0) << result.err;
  // Without QRN_ON_HANG=exit the reader keeps waiting, the report comes once
  // and ends telling how to make the run fail instead.
  const process_result waiting =
      run({"hang"}, {"QRN_HANG_AFTER=0.1"}, std::chrono::milliseconds(1500));
  EXPECT_TRUE(waiting.timed_out);
  EXPECT_EQ(count(waiting.err, "qrn: hang:"), 1u) << waiting.err;
  const std::string how_to_fail =
      "\nqrn: the run keeps waiting; set QRN_ON_HANG=exit to end it with status 1 instead\n";
  EXPECT_EQ(
      waiting.err.substr(waiting.err.size() - std::min(waiting.err.size(), how_to_fail.size())),
      how_to_fail);
}

TEST(Diagnostics, NoHangReportWhileWorkGoesOn) {
  const process_result slow = run({"slow_writer"}, {"QRN_HANG_AFTER=0.1"});
  EXPECT_EQ(slow.exit_status, 0);
  EXPECT_EQ(slow.out, "result 42\n");
  const process_result busy = run({"busy"}, {"QRN_HANG_AFTER=0.05", "QRN_ON_HANG=exit"});
  EXPECT_EQ(busy.exit_status, 0) << busy.err;
  EXPECT_EQ(busy.out, "result 9\n");
  EXPECT_EQ(busy.err.find("qrn: hang"), std::string::npos) << busy.err;
}

TEST(Diagnostics, AFatalErrorNamesItsStreamAndCaller) {
  const process_result result = run({"fatal"}, {"QRN_REPORT=off"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.out, "Error: Cannot do a blocking read from an empty stream on an x86 target\n");
  EXPECT_EQ(result.err,
            "qrn: the error below was a read of empty stream in (qrn::stream_in<int>) that "
            "cannot wait, made by component reads_without_waiting\n");
}

TEST(Diagnostics, WritesTheTableAsJsonOrCsvAndRejectsBadSettings) {
  const std::string dir = ::testing::TempDir();
  const std::string json = dir + "qrn_report_" + std::to_string(::getpid()) + ".json";
  const std::string csv = dir + "qrn_report_" + std::to_string(::getpid()) + ".csv";
  EXPECT_EQ(run({"names"}, {"QRN_REPORT=" + json}).exit_status, 0);
  EXPECT_EQ(run({"names"}, {"QRN_REPORT=" + csv}).exit_status, 0);
  std::stringstream json_text;
  json_text << std::ifstream(json).rdbuf();
  EXPECT_NE(json_text.str().find("{\"name\": \"adc_samples\", \"type\": \"qrn::stream_in<int>\", "
                                 "\"written\": 1, \"read\": 1, \"peak\": 1, \"occupancy\": 0"),
            std::string::npos)
      << json_text.str();
  std::stringstream csv_text;
  csv_text << std::ifstream(csv).rdbuf();
  EXPECT_EQ(csv_text.str().rfind("kind,name,type,written,read,peak,occupancy,", 0), 0u);
  EXPECT_NE(csv_text.str().find("\nstream,adc_samples,qrn::stream_in<int>,1,1,1,0,"),
            std::string::npos)
      << csv_text.str();
  std::remove(json.c_str());
  std::remove(csv.c_str());

  for (const std::string& bad :
       {std::string("QRN_REPORT=tabel"), std::string("QRN_REPORT=/nonexistent/dir/r.json"),
        std::string("QRN_HANG_AFTER=soon"), std::string("QRN_ON_HANG=abort")}) {
    const process_result result = run({"names"}, {bad});
    SCOPED_TRACE(bad);
    EXPECT_EQ(result.exit_status, 0);
    ASSERT_GE(result.out.size(), 5u);
    EXPECT_EQ(result.out.substr(result.out.size() - 5), "done\n");
    EXPECT_EQ(count(result.err, "qrn: ignoring ") + count(result.err, "qrn: could not "), 1u)
        << result.err;
    EXPECT_NE(result.err.find(bad.substr(0, bad.find('='))), std::string::npos) << result.err;
    if (bad == "QRN_HANG_AFTER=soon") {
      EXPECT_NE(result.err.find("(0 turns hang checks off)"), std::string::npos) << result.err;
    }
  }
}

TEST(Diagnostics, SettingsAreCheckedAtStartUp) {
  // An unknown QRN_ name gets one line listing the known ones; word values
  // take any case.
  const process_result capitals = run({"hang"}, {"QRN_REPORTS=table", "QRN_REPORT=TABLE",
                                                 "QRN_ON_HANG=Exit", "QRN_HANG_AFTER=0.1"});
  EXPECT_EQ(capitals.exit_status, 1) << capitals.err;
  EXPECT_EQ(count(capitals.err, "qrn: unknown setting "), 1u) << capitals.err;
  qrn_test::expect_contains_all(
      capitals.err, {"qrn: unknown setting QRN_REPORTS; known: QRN_DEPTH, ", " QRN_REPORT, ",
                     "qrn: ending the process with status 1 (QRN_ON_HANG=exit)\n"});
  EXPECT_EQ(count(capitals.err, "qrn: run report\n"), 2u) << capitals.err;
  EXPECT_EQ(capitals.err.find("qrn: ignoring"), std::string::npos) << capitals.err;

  // Unwritable report and trace paths are named, with the reason, by a run
  // that never ends (its end-of-run report never comes).
  const process_result stuck = run(
      {"hang"},
      {"QRN_HANG_AFTER=0", "QRN_REPORT=/nonexistent/dir/r.json", "QRN_TRACE=/nonexistent/t.vcd"},
      std::chrono::milliseconds(1000));
  EXPECT_TRUE(stuck.timed_out);
  qrn_test::expect_contains_all(
      stuck.err, {"qrn: could not write the run report to /nonexistent/dir/r.json (QRN_REPORT): "
                  "No such file or directory; using summary\n",
                  "qrn: cannot write the trace to /nonexistent/t.vcd (QRN_TRACE): No such file or "
                  "directory; not tracing\n"});
  EXPECT_EQ(stuck.err.find("unknown setting"), std::string::npos) << stuck.err;
}

}  // namespace
