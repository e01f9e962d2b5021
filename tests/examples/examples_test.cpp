// Runs each example program many times and checks its exact output and exit
// status. Each bench reads only after the emulation runtime has let its
// components settle, so every run must print the same lines; a run that
// differs shows a component read too early, a lost or duplicated element, or
// a sideband that did not travel with its element.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/expect_runs.h"
#include "support/report_table.h"
#include "support/run_process.h"

namespace {

constexpr int runs = 20;  // each must print exactly the same lines

// Whether the suite runs in a timed mode of the matrix.
bool timed_mode() {
  const char* time = std::getenv("QRN_TIME");
  return time != nullptr && std::string(time) == "cycles";
}

TEST(Examples, CosimClientSumsEveryPacketItFed) {
  // 1+2+3 with last empty 2; the one-beat packet 10 with empty 1; and
  // 100+200 | 300+400 with empty 3, whose end arrives only in round 2.
  qrn_test::expect_runs({QRN_EXAMPLE_COSIM_CLIENT}, runs,
                        "beats_in and sums_out carry 4-byte words\n"
                        "round 1: fed 6 beats\n"
                        "sum 6 (sop 1, eop 1, empty 2)\n"
                        "sum 10 (sop 1, eop 1, empty 1)\n"
                        "round 1: 2 sums, 0 beats left in beats_in\n"
                        "round 2: fed 2 beats\n"
                        "sum 1000 (sop 1, eop 1, empty 3)\n"
                        "round 2: 1 sums, 0 beats left in beats_in\n");
}

TEST(Examples, PipelineEmitsOneChecksumPerCompletePacket) {
  // Packets of four: 1000+2000+3000+4000; 65535+1+2+3 = 65541, which wraps
  // to 5; 7+8 stay open until round 2 adds 11+12, giving 38.
  qrn_test::expect_runs({QRN_EXAMPLE_PIPELINE}, runs,
                        "round 1: wrote 10 words\n"
                        "checksum 10000 (sop 1, eop 1)\n"
                        "checksum 5 (sop 1, eop 1)\n"
                        "round 1: 2 checksums\n"
                        "round 2: wrote 2 words\n"
                        "checksum 38 (sop 1, eop 1)\n"
                        "round 2: 1 checksums\n");
}

TEST(Examples, BlockingReaderAveragesEverySampleAcrossRounds) {
  // Means of the last four samples, rounded down: 4, (4+8)/2, (4+8+12)/3,
  // (4..16)/4, (8..20)/4, (12+16+20+0)/4; then the sleeping component wakes
  // for (16+20+0+100)/4 and (20+0+100+3)/4 = 30.75.
  qrn_test::expect_runs({QRN_EXAMPLE_BLOCKING_READER}, runs,
                        "round 1: wrote 6 samples\n"
                        "average 4\n"
                        "average 6\n"
                        "average 8\n"
                        "average 10\n"
                        "average 14\n"
                        "average 12\n"
                        "round 2: wrote 2 samples\n"
                        "average 34\n"
                        "average 30\n");
}

// The end-of-run table of the pipeline: every element through every stream,
// each stage's moving calls, and the names of streams in an anonymous
// namespace and of their components.
TEST(Examples, PipelineTableAccountsForEveryElement) {
  const qrn_test::process_result result =
      qrn_test::run_process({QRN_EXAMPLE_PIPELINE}, std::chrono::seconds(30), {"QRN_REPORT=table"});
  ASSERT_EQ(result.exit_status, 0);
  const auto rows = qrn_test::table_rows(result.err);
  // A stream row ends with written, read, peak, now, asleep, depth.
  const auto written_read = [&](const std::string& stream) {
    const std::vector<std::string>& fields = rows.at(stream);
    return fields[fields.size() - 6] + "/" + fields[fields.size() - 5];
  };
  EXPECT_EQ(written_read("words_in"), "12/12");
  EXPECT_EQ(written_read("packets"), "12/12");
  EXPECT_EQ(written_read("checksums_out"), "3/3");
  EXPECT_NE(result.err.find("words_in       qrn::stream_in<unsigned short>"), std::string::npos)
      << result.err;
  EXPECT_EQ(rows.at("packetizer").at(1), "12");
  EXPECT_EQ(rows.at("checksummer").at(1), "12");
}

// A bench that writes its samples to the wrong stream hangs; the report says
// who waits where and where the data went, and QRN_ON_HANG=exit ends the run.
TEST(Examples, MisroutedPipelineHangIsExplained) {
  const qrn_test::process_result result =
      qrn_test::run_process({QRN_EXAMPLE_MISROUTED_PIPELINE}, std::chrono::seconds(30),
                            {"QRN_HANG_AFTER=0.2", "QRN_ON_HANG=exit"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_EQ(result.out, "wrote the gain and 4 samples\n");
  qrn_test::expect_contains_all(
      result.err,
      {"qrn:   the test bench waits in a blocking read of averages_out (qrn::stream_out<int>)",
       "qrn:   component averager waits in a blocking read of scaled (qrn::stream<int>)",
       "qrn:   component scaler keeps polling; the last stream it found empty: samples_in "
       "(qrn::stream_in<int>)\n",
       "qrn:   stream gains_in (qrn::stream_in<int>) holds 4 element(s) that no one reads: 10, "
       "20, 30, 40\n"});
}

// The declared depths of a splitter and a joiner: unbounded, the frames go
// through with a warning; declared, they deadlock on depth and the report
// says where; grown, the frames go through and the depth needed is told.
TEST(Examples, FifoDepthInEachDepthMode) {
  const std::string frames = "frame of 2: sum 3\nframe of 4: sum 10\nframe of 4: sum 10\n";
  const std::string type = "qrn::stream<int, qrn::buffer<2> >";
  const auto run = [](const char* mode) {
    const qrn_test::short_tsan_exit_watch short_watch;  // hang looks every 0.1 s
    return qrn_test::run_process({QRN_EXAMPLE_FIFO_DEPTH}, std::chrono::seconds(30),
                                 {mode, "QRN_HANG_AFTER=0.1", "QRN_ON_HANG=exit"});
  };
  const std::string warning = "qrn: warning: stream wide (" + type +
                              ") peaked at 4 elements; its declared depth 2 would have held up "
                              "its writer\n";
  // With threads the components still run as the process ends: a stream
  // whose lock one of them holds then has no known users, and the warning,
  // which needs the whole fork and join, is left out. A few tries see it.
  qrn_test::process_result unbounded;
  for (int attempt = 0; attempt < 3 && unbounded.err != warning; ++attempt) {
    unbounded = run("QRN_DEPTH=unbounded");
  }
  EXPECT_EQ(unbounded.exit_status, 0);
  EXPECT_EQ(unbounded.out, frames);
  EXPECT_EQ(unbounded.err, warning);
  const qrn_test::process_result declared = run("QRN_DEPTH=declared");
  EXPECT_EQ(declared.exit_status, 1);
  EXPECT_EQ(declared.out, "frame of 2: sum 3\nframe of 4: sum ");
  const std::string held =
      "qrn:   component splitter waits to write wide (" + type + ", depth 2, full)";
  qrn_test::expect_contains_all(
      declared.err,
      {"qrn:   a deadlock on depth: 1 writer waits for room in a full stream\n", held.c_str(),
       "qrn:   the waits form a cycle: splitter -> wide -> joiner -> narrow -> "
       "splitter\n"});
  const qrn_test::process_result grown = run("QRN_DEPTH=grow");
  EXPECT_EQ(grown.exit_status, 0);
  EXPECT_EQ(grown.out, frames);
  EXPECT_EQ(grown.err, "qrn: stream wide (" + type + ") had to grow: depth 2, needed 4\n");
}

// Stages of initiation interval 1, 3 and 2 and latency 2, 5 and 3 print the
// same results in every mode, and a timed run adds nothing to its output
// unless asked. Timed and reported, under any schedule and depth setting of
// the mode: the first result after the three latencies and one cycle through
// each of the four streams (14), then one every 3 cycles, the pace of the
// interval-3 filter, which the report names.
TEST(Examples, TimedPipelineKeepsItsResultsAndReportsItsPace) {
  // Three times the sum of the last three samples 1, 2, ...: 3, 3 * 3, then 9 * i.
  std::string results = "result 0: 3\nresult 1: 9\n";
  for (int i = 2; i < 12; ++i) {
    results += "result " + std::to_string(i) + ": " + std::to_string(9 * i) + "\n";
  }
  qrn_test::expect_runs({QRN_EXAMPLE_TIMED_PIPELINE}, runs, results);
  const qrn_test::process_result quiet = qrn_test::run_process(
      {QRN_EXAMPLE_TIMED_PIPELINE}, std::chrono::seconds(30), {"QRN_TIME=cycles"});
  EXPECT_EQ(quiet.exit_status, 0);
  EXPECT_EQ(quiet.out, results);
  EXPECT_EQ(quiet.err, "");
  const qrn_test::process_result reported =
      qrn_test::run_process({QRN_EXAMPLE_TIMED_PIPELINE}, std::chrono::seconds(30),
                            {"QRN_TIME=cycles", "QRN_REPORT=table"});
  EXPECT_EQ(reported.exit_status, 0);
  EXPECT_EQ(reported.out, results);
  qrn_test::expect_contains_all(
      reported.err,
      {"\ntimed run: 48 cycles; first output at cycle 14; packed 0.333 per cycle\n",
       "\nbottleneck: filter() pace 70 %, filter() latency 11 %, pack() latency 6 %\n"});
}

// A 64x64 image filtered by two workers that take half a row each and
// merged in order: the same checksum in every mode, and timed under any
// workers' intervals (which change only when each pixel comes out).
TEST(Examples, ImagePipelineGivesTheSameChecksumUnderEveryTiming) {
  const std::string checksum = "checksum ec5421e0\n";
  qrn_test::expect_runs({QRN_EXAMPLE_IMAGE_PIPELINE}, runs, checksum);
  for (const std::vector<std::string>& intervals :
       std::vector<std::vector<std::string>>{{"3"}, {"4", "4"}, {"1", "5"}}) {
    std::vector<std::string> argv = {QRN_EXAMPLE_IMAGE_PIPELINE};
    argv.insert(argv.end(), intervals.begin(), intervals.end());
    qrn_test::expect_runs(argv, 1, checksum, 0, std::chrono::seconds(30), {"QRN_TIME=cycles"});
  }
}

// A producer offers one element per cycle to a FIFO of depth 2 that its
// consumer empties every 3 cycles. Untimed (and unbounded: declared depths
// drop what the schedule happens to leave full) every element is kept; timed,
// about a third, the same under every schedule: the 684453 that a
// co-simulation of the design keeps.
TEST(Examples, DroppingProducerKeepsWhatItsConsumerTakesInTime) {
  const std::string untimed_sum = "2053351";  // 1 + 2 + ... + 2026
  if (!timed_mode()) {
    const qrn_test::process_result untimed = qrn_test::run_process(
        {QRN_EXAMPLE_DROPPING_PRODUCER}, std::chrono::seconds(30), {"QRN_DEPTH=unbounded"});
    EXPECT_EQ(untimed.exit_status, 0);
    EXPECT_EQ(untimed.out, "sum " + untimed_sum + "\n");
    EXPECT_EQ(untimed.err.find("timed run"), std::string::npos) << untimed.err;
  }
  for (const char* seed : {"", "1", "2", "3"}) {
    SCOPED_TRACE(std::string("QRN_SCHEDULE_SEED=") + seed);
    std::vector<std::string> env = {"QRN_TIME=cycles"};
    if (*seed != '\0') {
      env.push_back(std::string("QRN_SCHEDULE_SEED=") + seed);
    }
    const qrn_test::process_result timed =
        qrn_test::run_process({QRN_EXAMPLE_DROPPING_PRODUCER}, std::chrono::seconds(30), env);
    EXPECT_EQ(timed.exit_status, 0);
    EXPECT_EQ(timed.out, "sum 684453\n");
    EXPECT_EQ(timed.err,
              "timed run: sum read at cycle 2035; untimed, every element is kept and the sum is " +
                  untimed_sum + "\n");
  }
}

// The emulation runtime refers to the enqueue marker through the program's
// dynamic symbol table, so every example must export it.
TEST(Examples, EveryExampleExportsTheEnqueueMarker) {
  for (const char* program :
       {QRN_EXAMPLE_COSIM_CLIENT, QRN_EXAMPLE_PIPELINE, QRN_EXAMPLE_BLOCKING_READER,
        QRN_EXAMPLE_MISROUTED_PIPELINE, QRN_EXAMPLE_FIFO_DEPTH, QRN_EXAMPLE_TIMED_PIPELINE,
        QRN_EXAMPLE_DROPPING_PRODUCER}) {
    SCOPED_TRACE(program);
    const qrn_test::process_result symbols =
        qrn_test::run_process({QRN_NM, "--dynamic", "--defined-only", program});
    ASSERT_EQ(symbols.exit_status, 0) << symbols.err;
    EXPECT_NE(symbols.out.find(" __qrn_enqueue_handle\n"), std::string::npos);
  }
}

}  // namespace
