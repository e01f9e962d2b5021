// The event graph of a timed run (QRN_TIME_GRAPH) against real timed runs:
// re-evaluated cycle counts and deadlocks equal those of runs at the same
// depths on blocking designs, many depth vectors each; a deadlock names the
// streams on its cycle; a polling design's flipped answers go to real runs;
// qrn-depths --verify agrees.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "event_graph.h"
#include "joint_depths.h"
#include "json_text.h"
#include "program_runs.h"
#include "support/run_process.h"
#include "support/sanitized.h"

namespace {

using qrn_test::process_result;
using qrn_tools::evaluation;
using qrn_tools::event_graph;

struct timed_result {
  qrn_tools::run_result run;
  std::optional<std::uint64_t> cycles;  // from its report
};

// A file of this test process's own: CTest runs the tests side by side.
std::string scratch(const std::string& name) {
  return ::testing::TempDir() + "/event_graph_" + std::to_string(::getpid()) + "_" + name;
}

// One timed run of `program`: unbounded and recording its graph to
// `graph_path`, or (no path) at the declared depths with `overrides`.
timed_result timed_run(const std::vector<std::string>& program, const std::string& overrides,
                       const std::string& graph_path = "") {
  const std::string report = scratch("report.json");
  qrn_tools::env_changes env = {
      {"QRN_TIME", "cycles"},
      {"QRN_DEPTH", graph_path.empty() ? "declared" : "unbounded"},
      {"QRN_REPORT", report},
      {"QRN_DEPTH_OVERRIDE", overrides.empty() ? std::nullopt : std::optional(overrides)},
      {"QRN_TIME_GRAPH", graph_path.empty() ? std::nullopt : std::optional(graph_path)},
      {"QRN_SCHEDULE_SEED", std::nullopt}};
  timed_result result;
  result.run = qrn_tools::run_programs(program, {env}, 1).front();
  std::ifstream file(report);
  std::stringstream text;
  text << file.rdbuf();
  result.cycles =
      qrn_tools::whole_at(nlohmann::json::parse(text.str(), nullptr, false), "/cycles/total");
  std::remove(report.c_str());
  return result;
}

std::optional<event_graph> recorded(const std::vector<std::string>& program, timed_result& run) {
  const std::string path = scratch("run.graph");
  run = timed_run(program, "", path);
  std::string error;
  std::optional<event_graph> graph = event_graph::load(path, error);
  std::remove(path.c_str());
  EXPECT_TRUE(graph) << error;
  return graph;
}

std::string overrides_of(const event_graph& graph, const std::vector<std::uint64_t>& depths) {
  std::string text;
  for (std::size_t s = 0; s < depths.size(); ++s) {
    text += (text.empty() ? "" : ",") + graph.streams()[s].name + "=" + std::to_string(depths[s]);
  }
  return text;
}

// Records `program` once, then compares the graph with a real run at the
// declared depths, at depth 1 everywhere and at `vectors` random depth
// vectors (1 to 12 per stream, or its declared depth). Returns how many of
// them deadlocked, and counts in `through` those that ran through.
int expect_graph_equals_runs(const std::vector<std::string>& program, int vectors,
                             std::uint32_t seed, int& through) {
  timed_result reference;
  const std::optional<event_graph> loaded = recorded(program, reference);
  if (!loaded) {
    return 0;
  }
  const event_graph& graph = *loaded;
  EXPECT_EQ(reference.run.status, 0);
  EXPECT_EQ(graph.evaluate(graph.recorded_depths()).cycles, reference.cycles.value_or(0));
  std::vector<std::vector<std::uint64_t>> candidates;
  std::vector<std::uint64_t> declared;
  for (const qrn_tools::graph_stream& s : graph.streams()) {
    declared.push_back(s.configured);
  }
  candidates.push_back(declared);
  candidates.emplace_back(graph.streams().size(), 1);
  std::mt19937 random(seed);
  for (int i = 0; i < vectors; ++i) {
    candidates.emplace_back();
    for (std::size_t s = 0; s < graph.streams().size(); ++s) {
      // A quarter keep their declared depth (none: unbounded), so that not
      // every vector starves the bench's inputs.
      candidates.back().push_back(random() % 4 == 0 ? declared[s] : 1 + random() % 12);
    }
  }
  int deadlocks = 0;
  for (const std::vector<std::uint64_t>& depths : candidates) {
    const evaluation valued = graph.evaluate(depths);
    const timed_result run = timed_run(program, overrides_of(graph, depths));
    const std::string where = overrides_of(graph, depths);
    EXPECT_NE(valued.verdict, evaluation::kind::needs_run) << where << ": " << valued.why;
    const bool runs_through = run.run.status == 0 && run.run.out == reference.run.out;
    EXPECT_EQ(valued.verdict == evaluation::kind::cycles, runs_through) << where;
    if (runs_through) {
      ++through;
      EXPECT_EQ(valued.cycles, run.cycles.value_or(0)) << where;
    } else {
      EXPECT_FALSE(valued.cycle_streams.empty()) << where;
      ++deadlocks;
    }
  }
  return deadlocks;
}

TEST(EventGraph, ReEvaluatedCyclesEqualRealRunsOnBlockingDesigns) {
  // Bursts into a slow task: depth decides the cycles, never a deadlock.
  int through = 0;
  EXPECT_EQ(expect_graph_equals_runs({QRN_PROGRAM_BURSTS}, 8, 1, through), 0);
  // Split and merge with workers at several paces; `in` shallower than the
  // bench's writes deadlocks (the components are launched after them).
  int deadlocks = 0;
  for (const char* ii_a : {"1", "3", "5"}) {
    deadlocks += expect_graph_equals_runs({QRN_PROGRAM_SPLIT_MERGE, ii_a, "2"}, 6, 2, through);
  }
  EXPECT_GT(deadlocks, 0);
  EXPECT_GT(through, 10 + 3);  // bursts' 10, and split_merge's beyond its declared depths
  // Accesses at their pipeline stages rather than at the iteration's start
  // and its latency.
  expect_graph_equals_runs({QRN_PROGRAM_STAGED_CHAIN}, 8, 5, through);
#ifdef QRN_EXAMPLE_FIFO_DEPTH
  EXPECT_GT(expect_graph_equals_runs({QRN_EXAMPLE_FIFO_DEPTH}, 8, 3, through), 0);
#endif
#ifdef QRN_EXAMPLE_TIMED_PIPELINE
  expect_graph_equals_runs({QRN_EXAMPLE_TIMED_PIPELINE}, 8, 4, through);
#endif
}

TEST(EventGraph, ADeadlockNamesTheStreamsOnItsCycle) {
  timed_result reference;
  const std::optional<event_graph> loaded =
      recorded({QRN_PROGRAM_SPLIT_MERGE, "1", "1"}, reference);
  ASSERT_TRUE(loaded);
  const event_graph& graph = *loaded;
  std::vector<std::uint64_t> depths = graph.recorded_depths();  // all unbounded
  std::vector<std::string> names;
  for (const qrn_tools::graph_stream& s : graph.streams()) {
    names.push_back(s.name);
  }
  // Only `in`, written by the bench before it launches its reader, too shallow.
  const std::size_t in = std::find(names.begin(), names.end(), "in") - names.begin();
  ASSERT_LT(in, names.size());
  depths[in] = 100;
  evaluation valued = graph.evaluate(depths);
  ASSERT_EQ(valued.verdict, evaluation::kind::deadlock);
  ASSERT_EQ(valued.cycle_streams, std::vector<std::size_t>{in});
  // All shallow but `in`: the run goes through, slower than unbounded.
  depths.assign(depths.size(), 1);
  depths[in] = 0;
  valued = graph.evaluate(depths);
  ASSERT_EQ(valued.verdict, evaluation::kind::cycles);
  EXPECT_GT(valued.cycles, graph.recorded_cycles());
}

process_result depths_tool(std::vector<std::string> args) {
  args.insert(args.begin(), QRN_PROGRAM_DEPTHS);
  return qrn_test::run_process(args, std::chrono::seconds(300));
}

// The line qrn-depths writes on how many candidates the graph valued.
std::string valued_line(const std::string& err) {
  for (const std::string& line : qrn_test::lines_of(err)) {
    if (line.find("the event graph valued") != std::string::npos) {
      return line;
    }
  }
  return "";
}

TEST(EventGraph, DepthSearchOnTheGraphAnswersAsRerunsDo) {
  // Blocking: every candidate valued on the graph, each confirmed by a run.
  const std::vector<std::string> design = {QRN_PROGRAM_SPLIT_MERGE, "3", "1"};
  std::vector<std::string> args = {"--verify"};
  args.insert(args.end(), design.begin(), design.end());
  const qrn_test::process_result graph = depths_tool(args);
  args[0] = "--rerun";
  const qrn_test::process_result rerun = depths_tool(args);
  EXPECT_EQ(graph.exit_status, 0) << graph.err;
  EXPECT_EQ(graph.out, rerun.out);
  EXPECT_NE(graph.err.find(", 0 differ"), std::string::npos) << graph.err;
  EXPECT_NE(valued_line(graph.err).find("; 0 needed a real run"), std::string::npos) << graph.err;
  // Polling: candidates whose tryRead answers would flip go to real runs.
  args = {"--verify", QRN_PROGRAM_SPLIT_MERGE, "3", "1", "4", "poll"};
  const qrn_test::process_result polled = depths_tool(args);
  args[0] = "--rerun";
  const qrn_test::process_result polled_rerun = depths_tool(args);
  EXPECT_EQ(polled.exit_status, 0) << polled.err;
  EXPECT_EQ(polled.out, polled_rerun.out);
  EXPECT_NE(polled.err.find(", 0 differ"), std::string::npos) << polled.err;
  const std::string line = valued_line(polled.err);
  EXPECT_NE(line.find("a non-blocking operation on from_"), std::string::npos) << polled.err;
  EXPECT_EQ(line.find("; 0 needed"), std::string::npos) << polled.err;
#ifdef QRN_EXAMPLE_TIMED_PIPELINE
  // Both streams keep the pace at depth 1: one candidate with both there
  // answers for each (then the declared and the full-speed depths). Above,
  // the workers' streams at depth 1 together do not, and each is probed alone.
  const qrn_test::process_result grouped = depths_tool({"--verify", QRN_EXAMPLE_TIMED_PIPELINE});
  const qrn_test::process_result grouped_rerun =
      depths_tool({"--rerun", QRN_EXAMPLE_TIMED_PIPELINE});
  EXPECT_EQ(grouped.out, grouped_rerun.out);
  EXPECT_EQ(valued_line(grouped.err),
            "qrn-depths: the event graph valued 3 of 3 candidates; 0 needed a real run");
  EXPECT_NE(grouped.err.find(", 0 differ"), std::string::npos) << grouped.err;
#endif
}

#ifdef QRN_EXAMPLE_FIFO_DEPTH
TEST(EventGraph, DeclaredDepthsThatDeadlockAreReportedWithTheirCycle) {
  const qrn_test::process_result result = depths_tool({QRN_EXAMPLE_FIFO_DEPTH});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_NE(result.err.find("at the declared depths the design deadlocks: a dependency cycle "
                            "through streams narrow, wide\n"),
            std::string::npos)
      << result.err;
}
#endif

}  // namespace

namespace {

// A depth of the joint line ("... within 1.0 % of unbounded: a=1 b=2").
std::map<std::string, std::uint64_t> joint_depths(const std::string& out) {
  std::map<std::string, std::uint64_t> depths;
  for (const std::string& line : qrn_test::lines_of(out)) {
    if (line.compare(0, 13, "joint depths,") == 0) {
      std::istringstream words(line.substr(line.find(": ") + 2));
      std::string word;
      while (words >> word) {
        const std::string depth = word.substr(word.find('=') + 1);
        if (depth != "-") {  // the bench's own streams stay unbounded
          depths[word.substr(0, word.find('='))] = std::stoull(depth);
        }
      }
    }
  }
  return depths;
}

TEST(EventGraph, TheJointSearchFindsWhatPerStreamSearchesMiss) {
  // worker_a's 20 cycles of latency hold samples that must wait in lap or in
  // lap2: each alone may be shallow while the other is at its ceiling, so
  // the per-stream depths, set together, are slow.
  const qrn_test::process_result result =
      depths_tool({"--joint", QRN_PROGRAM_SPLIT_MERGE, "1", "1", "20"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_NE(result.out.find("note: set together, the full-speed depths take"), std::string::npos)
      << result.out;
  const std::map<std::string, std::uint64_t> joint = joint_depths(result.out);
  ASSERT_EQ(joint.size(), 6U) << result.out;
  EXPECT_GE(joint.at("lap") + joint.at("lap2"), 18U) << result.out;
  // A real run at the joint depths keeps within 1 % of unbounded.
  std::string overrides;
  for (const auto& entry : joint) {
    overrides += (overrides.empty() ? "" : ",") + entry.first + "=" + std::to_string(entry.second);
  }
  const timed_result unbounded =
      timed_run({QRN_PROGRAM_SPLIT_MERGE, "1", "1", "20"}, "", scratch("g"));
  const timed_result at_joint = timed_run({QRN_PROGRAM_SPLIT_MERGE, "1", "1", "20"}, overrides);
  ASSERT_TRUE(unbounded.cycles && at_joint.cycles);
  EXPECT_LE(*at_joint.cycles * 100, *unbounded.cycles * 101);
  EXPECT_EQ(at_joint.run.out, unbounded.run.out);
  // Smaller storage than the per-stream answers' ceilings would need, and
  // each point of the curve slower and smaller than the one before.
  const std::vector<std::string> lines = qrn_test::lines_of(result.out);
  const auto curve =
      std::find(lines.begin(), lines.end(), "trade-off (least storage for each cycle count):");
  ASSERT_NE(curve, lines.end());
  std::uint64_t last_cycles = 0;
  std::uint64_t last_bits = UINT64_MAX;
  for (auto line = curve + 2; line != lines.end(); ++line) {
    std::istringstream words(*line);
    std::uint64_t cycles = 0, bits = 0;
    words >> cycles >> bits;
    EXPECT_GT(cycles, last_cycles) << *line;
    EXPECT_LT(bits, last_bits) << *line;
    last_cycles = cycles;
    last_bits = bits;
  }
  std::remove(scratch("g").c_str());
  // --json: the joint result after the streams.
  const qrn_test::process_result json =
      depths_tool({"--json", "--slack", "1%", QRN_PROGRAM_SPLIT_MERGE, "1", "1", "20"});
  ASSERT_EQ(json.exit_status, 0) << json.err;
  const nlohmann::json line = nlohmann::json::parse(json.out, nullptr, false);
  ASSERT_TRUE(line.contains("joint")) << json.out;
  const nlohmann::json& found = line.at("joint");
  EXPECT_EQ(found.at("found"), true);
  EXPECT_EQ(qrn_tools::whole_at(found, "/cycles"), at_joint.cycles);
  EXPECT_EQ(found.at("depths").size(), 8U);
  EXPECT_EQ(found.at("curve").size(), static_cast<std::size_t>(lines.end() - curve - 2));
}

}  // namespace

namespace {

TEST(EventGraph, BadGraphSettingsGetOneLineAndChangeNothingElse) {
  const std::vector<std::string> design = {QRN_PROGRAM_SPLIT_MERGE, "3", "1"};
  const auto run = [&design](const std::string& time, const std::string& graph) {
    return qrn_tools::run_programs(
               design, {{{"QRN_TIME", time}, {"QRN_TIME_GRAPH", graph}, {"QRN_REPORT", "off"}}}, 1)
        .front();
  };
  const qrn_tools::run_result plain = run("off", "");
  const std::string path = scratch("untimed.graph");
  const qrn_test::process_result untimed =
      qrn_test::run_process({"/usr/bin/env", "QRN_TIME_GRAPH=" + path, "QRN_REPORT=off",
                             QRN_PROGRAM_SPLIT_MERGE, "3", "1"},
                            std::chrono::seconds(60));
  EXPECT_EQ(untimed.exit_status, 0);
  EXPECT_EQ(untimed.out, plain.out);
  EXPECT_EQ(untimed.err, "qrn: no event graph written to " + path +
                             " (QRN_TIME_GRAPH): the run is not timed (QRN_TIME=cycles)\n");
  EXPECT_FALSE(std::ifstream(path).good());
  const qrn_test::process_result unwritable = qrn_test::run_process(
      {"/usr/bin/env", "QRN_TIME=cycles", "QRN_TIME_GRAPH=/nonexistent/dir/run.graph",
       "QRN_REPORT=off", QRN_PROGRAM_SPLIT_MERGE, "3", "1"},
      std::chrono::seconds(60));
  EXPECT_EQ(unwritable.exit_status, 0);
  EXPECT_EQ(unwritable.out, plain.out);
  EXPECT_EQ(unwritable.err.find("qrn: cannot write the event graph to /nonexistent/dir/run.graph "
                                "(QRN_TIME_GRAPH): "),
            0U)
      << unwritable.err;
  EXPECT_NE(unwritable.err.find("; not recording\n"), std::string::npos) << unwritable.err;
}

}  // namespace

namespace {

TEST(EventGraph, ATruncatedOrForeignFileIsRefused) {
  const std::string path = scratch("whole.graph");
  timed_run({QRN_PROGRAM_SPLIT_MERGE, "3", "1"}, "", path);
  std::ifstream whole_file(path, std::ios::binary);
  const std::string whole((std::istreambuf_iterator<char>(whole_file)),
                          std::istreambuf_iterator<char>());
  std::string error;
  ASSERT_TRUE(event_graph::load(path, error)) << error;
  for (const std::string& bytes : {whole.substr(0, whole.size() / 2), whole + "x",
                                   "QRNGRPH1" + whole.substr(8), std::string()}) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    EXPECT_FALSE(event_graph::load(path, error));
    EXPECT_EQ(error, "the event graph " + path + " is damaged");
  }
  std::remove(path.c_str());
  EXPECT_FALSE(event_graph::load(path, error));
  EXPECT_EQ(error, "cannot read the event graph " + path);
}

}  // namespace

namespace {

// Random depth vectors no deeper than `base` (0: unbounded, then up to `top`):
// the incremental valuation from `base` agrees with a whole pass on the
// verdict, the cycles and a deadlock's streams.
void expect_incremental_equals_whole(const event_graph& graph,
                                     const std::vector<std::uint64_t>& base, std::uint64_t top,
                                     int vectors, std::uint32_t seed) {
  const qrn_tools::valuation from = graph.value(base);
  ASSERT_EQ(from.result.verdict, evaluation::kind::cycles);
  std::mt19937 random(seed);
  int slower = 0;
  int deadlocks = 0;
  for (int i = 0; i < vectors; ++i) {
    std::vector<std::uint64_t> depths = base;
    for (std::uint64_t& depth : depths) {
      // Most streams keep their base depth, as a search's probes do.
      depth = random() % 3 == 0 ? 1 + random() % (depth == 0 ? top : depth) : depth;
    }
    const std::string where = overrides_of(graph, depths);
    const evaluation whole = graph.evaluate(depths);
    const evaluation incremental = graph.evaluate(depths, from);
    EXPECT_EQ(incremental.verdict, whole.verdict) << where;
    EXPECT_EQ(incremental.cycles, whole.cycles) << where;
    EXPECT_EQ(incremental.cycle_streams, whole.cycle_streams) << where;
    slower += whole.verdict == evaluation::kind::cycles && whole.cycles > from.result.cycles;
    deadlocks += whole.verdict == evaluation::kind::deadlock;
  }
  EXPECT_GT(slower, 0);  // the vectors delay events, not only keep the base's cycles
  EXPECT_GT(deadlocks + slower, vectors / 4);
}

TEST(EventGraph, IncrementalValuationsEqualWholePasses) {
  timed_result run;
  std::optional<event_graph> graph = recorded({QRN_PROGRAM_SPLIT_MERGE, "3", "1", "12"}, run);
  ASSERT_TRUE(graph);
  std::vector<std::uint64_t> base;  // the bench's streams unbounded, the others 24 deep
  for (const qrn_tools::graph_stream& s : graph->streams()) {
    base.push_back(s.bench_end ? 0 : 24);
  }
  expect_incremental_equals_whole(*graph, base, 16, 300, 7);
  // From the unbounded run itself: every depth is smaller, and a shallow
  // `in` deadlocks through the bench's order (it launches the workers after
  // its writes), which no cycle count shows.
  expect_incremental_equals_whole(*graph, graph->recorded_depths(), 16, 100, 8);
  graph = recorded({QRN_PROGRAM_STAGED_CHAIN}, run);
  ASSERT_TRUE(graph);
  expect_incremental_equals_whole(*graph, graph->recorded_depths(), 2, 100, 9);
}

std::size_t stream_index(const event_graph& graph, const std::string& name) {
  std::size_t s = 0;
  while (s < graph.streams().size() && graph.streams()[s].name != name) {
    ++s;
  }
  EXPECT_LT(s, graph.streams().size()) << name;
  return s;
}

// Whether `depths` keeps within `budget` cycles on `graph`.
bool fits(const event_graph& graph, const std::vector<std::uint64_t>& depths,
          std::uint64_t budget) {
  const evaluation e = graph.evaluate(depths);
  return e.verdict == evaluation::kind::cycles && e.cycles <= budget;
}

// Whether some vector below `limit` bits fits, by trying every depth of
// every open stream in turn (a prefix that does not fit with the rest at
// their ceilings is dropped: deeper streams never slow a run).
bool smaller_fits(const event_graph& graph, const qrn_tools::joint_limits& limits,
                  std::vector<std::uint64_t>& depths, std::size_t s, std::uint64_t bits,
                  std::uint64_t limit, std::uint64_t budget) {
  if (s == depths.size()) {
    return fits(graph, depths, budget);
  }
  if (limits.ceiling[s] == 0) {
    return smaller_fits(graph, limits, depths, s + 1, bits, limit, budget);
  }
  const std::uint64_t width = graph.streams()[s].element_bits;
  bool found = false;
  for (std::uint64_t depth = 1; !found && depth <= limits.ceiling[s]; ++depth) {
    if (bits + depth * width >= limit) {
      break;
    }
    depths[s] = depth;
    found = fits(graph, depths, budget) &&
            smaller_fits(graph, limits, depths, s + 1, bits + depth * width, limit, budget);
  }
  depths[s] = limits.ceiling[s];
  return found;
}

TEST(JointDepths, TheAnswerIsTheLeastStorageWithinTheSlack) {
  // worker_a's latency of 12 holds samples that must wait in lap or lap2.
  timed_result run;
  const std::optional<event_graph> loaded =
      recorded({QRN_PROGRAM_SPLIT_MERGE, "1", "1", "12"}, run);
  ASSERT_TRUE(loaded);
  const event_graph& graph = *loaded;
  qrn_tools::joint_limits limits;
  limits.fixed = graph.recorded_depths();  // unbounded
  for (const qrn_tools::graph_stream& s : graph.streams()) {
    limits.ceiling.push_back(s.name == "in" || s.name == "out" ? 0 : 24);
  }
  const std::uint64_t unbounded = graph.recorded_cycles();
  const std::uint64_t budget = unbounded + unbounded / 100;
  const qrn_tools::joint_vector joint =
      qrn_tools::least_storage(graph, limits, unbounded, 0.01, qrn_tools::joint_evaluations);
  ASSERT_TRUE(joint.found && joint.least);
  EXPECT_TRUE(fits(graph, joint.depths, budget));
  EXPECT_EQ(joint.bits, qrn_tools::storage_bits(graph, limits, joint.depths));
  EXPECT_EQ(joint.cycles, graph.evaluate(joint.depths).cycles);
  std::vector<std::uint64_t> depths = limits.ceiling;
  for (std::size_t s = 0; s < depths.size(); ++s) {
    depths[s] = depths[s] != 0 ? depths[s] : limits.fixed[s];
  }
  const std::vector<std::uint64_t> ceilings = depths;
  EXPECT_FALSE(smaller_fits(graph, limits, depths, 0, 0, joint.bits, budget));
  // Each stream's smallest depth with the others at their ceilings (a
  // per-stream search's answer) is too slow set together: the need is joint.
  std::vector<std::uint64_t> per_stream = ceilings;
  for (std::size_t s = 0; s < depths.size(); ++s) {
    std::vector<std::uint64_t> alone = ceilings;
    while (limits.ceiling[s] != 0 && alone[s] > 1) {
      --alone[s];
      if (!fits(graph, alone, budget)) {
        ++alone[s];
        break;
      }
    }
    per_stream[s] = alone[s];
  }
  EXPECT_FALSE(fits(graph, per_stream, budget));
  EXPECT_GE(joint.depths[stream_index(graph, "lap")] + joint.depths[stream_index(graph, "lap2")],
            12U);
  // Out of candidates, it keeps the best vector found, said not to be least.
  const qrn_tools::joint_vector cut = qrn_tools::least_storage(graph, limits, unbounded, 0.01, 40);
  EXPECT_TRUE(cut.found);
  EXPECT_FALSE(cut.least);
  EXPECT_TRUE(fits(graph, cut.depths, budget));
  EXPECT_GE(cut.bits, joint.bits);
  // No vector within no slack at depths of 1: the ceilings, not found.
  limits.ceiling.assign(limits.ceiling.size(), 0);
  limits.fixed.assign(limits.fixed.size(), 1);
  EXPECT_FALSE(qrn_tools::least_storage(graph, limits, unbounded, 0, 100).found);
}

#ifdef QRN_EXAMPLE_IMAGE_PIPELINE
TEST(JointDepths, TheImagePipelineKeepsItsPaceWithTheBenchsStreamsUnbounded) {
  // worker_a at ii 3: real runs agree with the graph at several depth vectors...
  timed_result reference;
  const std::vector<std::string> design = {QRN_EXAMPLE_IMAGE_PIPELINE, "3"};
  const std::optional<event_graph> loaded = recorded(design, reference);
  ASSERT_TRUE(loaded);
  const event_graph& graph = *loaded;
  std::vector<std::uint64_t> declared;
  for (const qrn_tools::graph_stream& s : graph.streams()) {
    declared.push_back(s.configured);
  }
  const std::size_t lap = stream_index(graph, "lap");
  const std::size_t to_a = stream_index(graph, "to_a");
  for (const auto& change : std::vector<std::vector<std::pair<std::size_t, std::uint64_t>>>{
           {}, {{lap, 90}}, {{lap, 40}, {to_a, 40}}, {{lap, 2}}}) {
    std::vector<std::uint64_t> depths = declared;
    for (const auto& set : change) {
      depths[set.first] = set.second;
    }
    const evaluation valued = graph.evaluate(depths);
    const timed_result run = timed_run(design, overrides_of(graph, depths));
    const bool runs_through = run.run.status == 0 && run.run.out == reference.run.out;
    EXPECT_EQ(valued.verdict == evaluation::kind::cycles, runs_through)
        << overrides_of(graph, depths);
    EXPECT_EQ(valued.cycles, runs_through ? run.cycles.value_or(0) : 0)
        << overrides_of(graph, depths);
  }
  // ... and the joint search keeps within 1 % of unbounded with short links,
  // confirmed by a real run (--verify). Its search takes minutes of CPU under
  // a sanitizer; the split_merge searches above run the same code there.
  if (qrn_test::sanitized) {
    return;
  }
  const process_result result = depths_tool({"--joint", "--verify", design[0], design[1]});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_NE(result.err.find(", 0 differ"), std::string::npos) << result.err;
  EXPECT_NE(result.out.find("- pixels, results: the test bench's own streams"), std::string::npos)
      << result.out;
  const std::map<std::string, std::uint64_t> joint = joint_depths(result.out);
  ASSERT_EQ(joint.size(), 10U) << result.out;  // all but pixels and results
  for (const char* link : {"raw", "windows", "merged"}) {
    EXPECT_LE(joint.at(link), 4U) << link;
  }
  // The results in flight between split and merge wait in lap or in the workers' links.
  EXPECT_GE(joint.at("lap") + joint.at("to_a") + joint.at("from_a") + joint.at("to_b") +
                joint.at("from_b"),
            40U);
  std::string overrides;
  for (const auto& entry : joint) {
    overrides += (overrides.empty() ? "" : ",") + entry.first + "=" + std::to_string(entry.second);
  }
  const timed_result at_joint = timed_run(design, overrides);
  ASSERT_TRUE(at_joint.cycles && reference.cycles);
  EXPECT_LE(*at_joint.cycles * 100, *reference.cycles * 101);
  EXPECT_EQ(at_joint.run.out, reference.run.out);
}
#endif

}  // namespace
