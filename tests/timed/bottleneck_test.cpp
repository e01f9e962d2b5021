// The bottleneck of timed runs (QRN_TIME=cycles): the causes of the longest
// path to the last output, on designs whose limit is known by reasoning,
// each with an answer that one walk back from one event gets wrong: an
// image pipeline split between two workers and merged in order, chains,
// a FIFO of depth 1, a split whose reconvergence needs a deeper FIFO, and a
// slow test bench; then the components' utilisation and the bounded window
// of events the walk uses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_process.h"

namespace {

// A timed run with its report's table, unless `settings` says otherwise.
qrn_test::process_result run_timed(const std::vector<std::string>& argv,
                                   const std::vector<std::string>& settings = {}) {
  std::vector<std::string> env = settings;
  env.push_back("QRN_TIME=cycles");
  bool report_set = false;
  for (const std::string& setting : settings) {
    report_set = report_set || setting.rfind("QRN_REPORT=", 0) == 0;
  }
  if (!report_set) {
    env.push_back("QRN_REPORT=table");
  }
  const qrn_test::process_result result =
      qrn_test::run_process(argv, std::chrono::seconds(60), env);
  EXPECT_EQ(result.exit_status, 0) << result.err;
  return result;
}

// The text after "bottleneck: " on its line of the report.
std::string bottleneck_in(const std::string& report) {
  const std::size_t at = report.find("\nbottleneck: ");
  if (at == std::string::npos) {
    return "(none)";
  }
  const std::size_t from = at + 13;
  return report.substr(from, report.find('\n', from) - from);
}

// The share of `cause` in a bottleneck line, -1 when it is not named.
int share_of(const std::string& line, const std::string& cause) {
  const std::size_t at = line.find(cause + ' ');
  int percent = -1;
  if (at == std::string::npos ||
      std::sscanf(line.c_str() + at + cause.size(), " %d %%", &percent) != 1) {
    return -1;
  }
  return percent;
}

TEST(Bottlenecks, AChainNamesItsSlowestStageWhereverItSits) {
  for (const char* slow : {"0", "7", "15"}) {
    SCOPED_TRACE(std::string("slow stage ") + slow);
    const qrn_test::process_result result =
        run_timed({QRN_TIMED_CASES, "chain_of", "16", slow}, {"QRN_REPORT=off"});
    EXPECT_EQ(result.out.rfind(std::string("bottleneck: stage") + slow + " pace ", 0), 0U)
        << result.out;
  }
}

TEST(Bottlenecks, ASplitWhoseReconvergenceOutrunsItsFifosNamesTheFifo) {
  // worker_a's latency of 20 holds samples that must wait in `lap` or
  // `lap2` (both 2 deep) for the merge: the loop through them carries 4
  // samples per 20-odd cycles. The latency is on the path, but what holds
  // the source is the room in the lap; a deeper lap2 (or lap) runs at the
  // workers' pace.
  const std::string shallow =
      bottleneck_in(run_timed({QRN_PROGRAM_SPLIT_MERGE, "1", "1", "20"}).err);
  EXPECT_EQ(shallow.rfind("stream lap2 too shallow ", 0), 0U) << shallow;
  EXPECT_GE(share_of(shallow, "stream lap2 too shallow"), 60) << shallow;
  // With lap2 deep, worker_b's results wait for the merge in from_b, which
  // is too shallow next; with both deep the source's pace is the limit.
  const std::string lap2_deep = bottleneck_in(
      run_timed({QRN_PROGRAM_SPLIT_MERGE, "1", "1", "20"}, {"QRN_DEPTH_OVERRIDE=lap2=32"}).err);
  EXPECT_EQ(lap2_deep.rfind("stream from_b too shallow ", 0), 0U) << lap2_deep;
  const std::string deep = bottleneck_in(
      run_timed({QRN_PROGRAM_SPLIT_MERGE, "1", "1", "20"}, {"QRN_DEPTH_OVERRIDE=lap2=32,from_b=32"})
          .err);
  EXPECT_EQ(deep.rfind("source pace ", 0), 0U) << deep;
  EXPECT_EQ(deep.find("too shallow"), std::string::npos) << deep;
}

TEST(Bottlenecks, ASlowBenchNamesItsOwnPace) {
  // One read every 5 cycles (qrn::cycles(4) after each): the stage could
  // give one per cycle.
  const qrn_test::process_result result =
      run_timed({QRN_TIMED_CASES, "slow_bench", "50"}, {"QRN_REPORT=off"});
  EXPECT_EQ(result.out.rfind("bottleneck: the test bench's pace on stream out ", 0), 0U)
      << result.out;
  EXPECT_GE(share_of(result.out, "the test bench's pace on stream out"), 90) << result.out;
}

// The examples are built unless QRN_BUILD_EXAMPLES is off.
#ifdef QRN_EXAMPLE_IMAGE_PIPELINE

std::string image_bottleneck(const std::vector<std::string>& intervals,
                             const std::vector<std::string>& env = {}) {
  std::vector<std::string> argv = {QRN_EXAMPLE_IMAGE_PIPELINE};
  argv.insert(argv.end(), intervals.begin(), intervals.end());
  return bottleneck_in(run_timed(argv, env).err);
}

TEST(Bottlenecks, TheImagePipelineNamesWhatPacesItUnderEachTiming) {
  // Every stage at II 1 takes a pixel per cycle; the bench wrote all the
  // pixels before it reads, so nothing upstream of `source` holds it: the
  // source's one read per cycle paces the design (ties with the bench's
  // pace go to the design; a walk that stops at the bench, or at the sink
  // that reads last, names those).
  EXPECT_EQ(image_bottleneck({}), "source pace 100 %");
  // worker_a takes the left half of each row, 32 pixels at 3 cycles: 93 of
  // the 126 cycles a row takes lie on its pace (31 intervals of 3); the rest
  // is the front end feeding worker_b while worker_a's 2-deep input runs dry.
  const std::string ii_3 = image_bottleneck({"3"});
  EXPECT_EQ(ii_3.rfind("worker_a pace ", 0), 0U) << ii_3;
  EXPECT_GE(share_of(ii_3, "worker_a pace"), 65) << ii_3;
  const std::string ii_5 = image_bottleneck({"5"});
  EXPECT_EQ(ii_5.rfind("worker_a pace ", 0), 0U) << ii_5;
  EXPECT_GT(share_of(ii_5, "worker_a pace"), share_of(ii_3, "worker_a pace")) << ii_5;
  // The same for worker_b, whose half comes second in each row.
  const std::string b_5 = image_bottleneck({"1", "5"});
  EXPECT_EQ(b_5.rfind("worker_b pace ", 0), 0U) << b_5;
  EXPECT_EQ(share_of(b_5, "worker_a pace"), -1) << b_5;
  // Both at II 4: the halves take turns, and so do the workers' paces.
  const std::string both = image_bottleneck({"4", "4"});
  EXPECT_GE(share_of(both, "worker_a pace"), 45) << both;
  EXPECT_GE(share_of(both, "worker_b pace"), 45) << both;
}

// The utilisation column of a component's row in the cycle table.
int utilisation_of(const std::string& report, const std::string& component) {
  const std::size_t table = report.find("\ncomponent       calls      busy     clock    util");
  const std::size_t row = report.find('\n' + component + ' ', table);
  unsigned long long calls = 0, busy = 0, clock = 0;
  int percent = -1;
  if (table == std::string::npos || row == std::string::npos ||
      std::sscanf(report.c_str() + row + component.size() + 1, "%llu %llu %llu %d %%", &calls,
                  &busy, &clock, &percent) != 4) {
    return -1;
  }
  return percent;
}

TEST(Bottlenecks, UtilisationIsBusyCyclesOverTheRunsCycles) {
  // 2048 calls at II 3 in 8084 cycles; worker_b's 2048 at II 1.
  const std::string report = run_timed({QRN_EXAMPLE_IMAGE_PIPELINE, "3"}).err;
  EXPECT_NE(report.find("\ntimed run: 8084 cycles;"), std::string::npos) << report;
  EXPECT_EQ(utilisation_of(report, "worker_a"), 76) << report;  // 6144 / 8084
  EXPECT_EQ(utilisation_of(report, "worker_b"), 25) << report;  // 2048 / 8084
  EXPECT_EQ(utilisation_of(report, "source"), 51) << report;    // 4096 / 8084
}

TEST(Bottlenecks, AWindowShorterThanTheRunGivesTheSharesOfThePathsLastPart) {
  // The last 2000 events cover the last rows: the same cause leads.
  const std::string json =
      testing::TempDir() + "bottleneck_window_" + std::to_string(::getpid()) + ".json";
  const qrn_test::process_result windowed = run_timed(
      {QRN_EXAMPLE_IMAGE_PIPELINE, "3"}, {"QRN_TIME_PATH_EVENTS=2000", "QRN_REPORT=" + json});
  std::ifstream file(json);
  std::stringstream text;
  text << file.rdbuf();
  const std::string report = text.str();
  EXPECT_NE(report.find("\"bottleneck\": \"worker_a pace "), std::string::npos) << report;
  EXPECT_NE(report.find("\"complete\": false"), std::string::npos) << report;
  unsigned long long cycles = 0;
  const std::string path_cycles = "\"critical_path\": {\"cycles\": ";
  const std::size_t at = report.find(path_cycles);
  ASSERT_NE(at, std::string::npos) << report;
  ASSERT_EQ(std::sscanf(report.c_str() + at + path_cycles.size(), "%llu", &cycles), 1) << report;
  EXPECT_GT(cycles, 100U);
  EXPECT_LT(cycles, 8083U);
  // A bad window keeps the default, with one line.
  const qrn_test::process_result bad =
      run_timed({QRN_EXAMPLE_IMAGE_PIPELINE, "3"}, {"QRN_TIME_PATH_EVENTS=0"});
  EXPECT_NE(bad.err.find("qrn: ignoring QRN_TIME_PATH_EVENTS=0: expected a number of events "
                         "from 1 to 1073741824; keeping 262144\n"),
            std::string::npos)
      << bad.err;
  EXPECT_EQ(bottleneck_in(bad.err), image_bottleneck({"3"}));
}

#endif  // QRN_EXAMPLE_IMAGE_PIPELINE

}  // namespace
