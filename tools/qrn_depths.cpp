// qrn-depths [--seeds A-B] [--json] [--verify] [--rerun] [--joint] [--slack P%]
//            [--plot FILE.svg] [--time-limit S] PROGRAM [ARGS...]
//
// Finds the FIFO depths a design needs, from timed runs (QRN_TIME=cycles) of
// PROGRAM. The run with unbounded streams gives the best cycle count and each
// stream's peaks, and records its event graph, on which every later
// candidate is valued where the graph can tell (else, and with --rerun, it
// is run; --verify runs it as well and compares). A stream that the test
// bench writes or reads and that declares no depth is the bench's own
// buffer: unbounded in every run, not searched. A stream's ceiling is the larger of its peak in the
// emulation (the most elements it held at once, so that no write waits) and
// one more than its peak in cycles (room for an element comes the cycle
// after the read that frees it), and a run with every stream at its ceiling
// runs as the unbounded one. Then, for each stream on its own, with every
// other stream at its ceiling, a search from 1 to the ceiling (see search()) finds
//   - the smallest depth at which the run exits as the unbounded one does
//     (same exit status and standard output): no deadlock, and
//   - the smallest such depth whose cycle count is within 1 % of the best.
// The runs of one search step, one per stream, go side by side, one per
// processor. --joint also searches all depths together (joint_depths.h).
// Prints a table of the streams (declared depth, the two depths)
// and the cycle counts of the unbounded run, of a run at the declared depths
// and of a run at the full-speed depths. Exit 0; usage errors, programs that
// cannot be run or whose unbounded run fails or writes no timed report: one
// line on standard error and exit 2.
//
// Depths are set by name with QRN_DEPTH_OVERRIDE. A stream whose name it
// cannot address (a name with a comma, a name two streams share, or a name
// that differs when the stream is made) keeps its declared depth in every
// run; the output says so under the table. Which names reach their stream,
// and that the ceilings keep the pace, the graph tells where it can (it
// holds each stream's name when its depth was set), else a run does. The children's standard error
// is discarded; the rest of the environment (QRN_DEPTH_DEFAULT included) is passed on.
//
// --seeds A-B makes the whole search once under each seed A to B
// (QRN_SCHEDULE_SEED), the runs of all seeds' steps side by side. The table
// then gives each stream's largest depths over the seeds ("?" when a seed
// could not search it) and each cycle line's worst figure (none before any
// count, else the largest; each seed's last run has its own full-speed
// depths), and a line after it names the seeds whose result differs from
// seed A's. A seed whose search cannot go on, as above: one line on standard
// error naming it, and exit 2.
//
// --json prints instead one line per seed (seed null without --seeds):
//   {"seed":S,"status":"ok","cycles_unbounded":U,"cycles_declared":D,
//    "cycles_suggested":F,"streams":[{"name":N,"declared":X,
//    "no_deadlock":Y,"full_speed":Z,"bench_buffer":B},...]}
// with null for a cycle count that does not exist (the run does not exit as
// the unbounded one), a declared depth that does not exist and a depth that
// was not searched. A seed whose unbounded run fails, or whose run with every
// stream at its ceiling is slower, gives status "failed", an "error" string,
// null cycle counts and no streams; the exit status is then 1, else 0. Two
// seeds agree when their lines do but for the seed, and the lines of
// invocations over disjoint seed ranges concatenate into the lines of one
// invocation over their union.

#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "event_graph.h"
#include "joint_depths.h"
#include "json_text.h"
#include "parallel_for.h"
#include "program_runs.h"
#include "seed_range.h"

namespace {

using qrn_tools::env_changes;
using qrn_tools::evaluation;
using qrn_tools::event_graph;
using qrn_tools::run_result;

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "qrn-depths: %s\n", message.c_str());
  std::exit(2);
}

struct stream_entry {
  std::string name;
  std::uint64_t depth = 0;        // its depth in that run; 0: none
  std::uint64_t peak = 0;         // most elements it held at once in the emulation
  std::uint64_t cycles_peak = 0;  // most elements it held in one cycle
  bool destroyed = false;         // its report shows no depth
};

// What one timed run did.
struct outcome {
  run_result result;
  bool reported = false;  // it wrote a timed run report
  std::uint64_t total = 0;
  std::vector<stream_entry> streams;
  std::shared_ptr<const event_graph> graph;  // its event graph, when it recorded one
  // The graph valued with every stream at its ceiling: the base of the probes.
  std::shared_ptr<const qrn_tools::valuation> ceilings;
  bool graph_valued = false;  // its verdict comes from an event graph (see timed_runner)
};

// The streams and total of a timed run's JSON report; false when `text` is none.
bool read_report(const std::string& text, outcome& into) {
  using qrn_tools::whole_at;
  const nlohmann::json report = nlohmann::json::parse(text, nullptr, false);
  const std::optional<std::uint64_t> total = whole_at(report, "/cycles/total");
  if (!total || !report.contains("streams") || !report["streams"].is_array()) {
    return false;
  }
  into.total = *total;
  for (const nlohmann::json& stream : report["streams"]) {
    const std::optional<std::uint64_t> peak = whole_at(stream, "/peak");
    const std::optional<std::uint64_t> cycles_peak = whole_at(stream, "/cycles/peak");
    if (!stream.contains("name") || !stream["name"].is_string() || !stream.contains("depth") ||
        !peak || !cycles_peak) {
      return false;
    }
    into.streams.push_back({stream["name"].get<std::string>(),
                            whole_at(stream, "/depth").value_or(0), *peak, *cycles_peak,
                            stream.contains("destroyed") && stream["destroyed"] == true});
  }
  return true;
}

// How a run sets the depths (QRN_DEPTH and the QRN_DEPTH_OVERRIDE entries),
// and its QRN_SCHEDULE_SEED; without one the environment's is kept.
struct depth_setup {
  std::string mode;
  std::map<std::string, std::uint64_t> overrides;
  std::optional<std::uint64_t> seed;
  bool record_graph = false;          // the run records its event graph
  const outcome* answered = nullptr;  // a recorded run whose graph may answer instead
  bool shown = false;  // its figure is shown: a deadlock's exit status comes from a real run
};

// The depth of every stream of `graph` under `setup`.
std::vector<std::uint64_t> depths_of(const event_graph& graph, const depth_setup& setup) {
  std::vector<std::uint64_t> depths;
  for (const qrn_tools::graph_stream& stream : graph.streams()) {
    const auto set = setup.overrides.find(stream.name);
    depths.push_back(set != setup.overrides.end() ? set->second
                     : setup.mode == "unbounded"  ? 0
                                                  : stream.configured);
  }
  return depths;
}

std::string stream_list(const event_graph& graph, const std::vector<std::size_t>& streams) {
  std::string text;
  for (const std::size_t s : streams) {
    text += (text.empty() ? "" : ", ") + graph.streams()[s].name;
  }
  return text;
}

// What the event graphs answered, for the line on standard error.
struct graph_counts {
  std::uint64_t answered = 0;  // candidates the graphs valued
  std::uint64_t rerun = 0;     // candidates a graph could not value: real runs
  std::string why;             // the first reason
  std::uint64_t verified = 0;  // --verify: answers rerun
  std::uint64_t differing = 0;
};

// Runs PROGRAM timed, each run's report in a file of its own.
class timed_runner {
 public:
  timed_runner(std::vector<std::string> program, bool verify, double time_limit)
      : program_(std::move(program)), verify_(verify), time_limit_(time_limit) {}

  // Seconds after which a run is killed.
  double time_limit() const { return time_limit_; }

  // The outcomes of `setups`: from their recorded run's event graph where it
  // can tell (with --verify also from a real run, compared), else from real
  // runs side by side.
  std::vector<outcome> run(const std::vector<depth_setup>& setups) const {
    std::vector<std::optional<evaluation>> valued(setups.size());
    qrn_tools::parallel_for(setups.size(), [&](std::size_t i) {
      const outcome* recorded = setups[i].answered;
      if (recorded != nullptr && recorded->graph != nullptr) {
        const std::vector<std::uint64_t> depths = depths_of(*recorded->graph, setups[i]);
        valued[i] = recorded->ceilings != nullptr
                        ? recorded->graph->evaluate(depths, *recorded->ceilings)
                        : recorded->graph->evaluate(depths);
      }
    });
    std::vector<outcome> outcomes(setups.size());
    std::vector<bool> graph_answered(setups.size(), false);
    std::vector<depth_setup> real;
    std::vector<std::size_t> real_index;
    for (std::size_t i = 0; i < setups.size(); ++i) {
      if (!valued[i]) {
        real.push_back(setups[i]);
        real_index.push_back(i);
        continue;
      }
      const outcome& recorded = *setups[i].answered;
      const evaluation& e = *valued[i];
      const bool answers = e.verdict != evaluation::kind::needs_run &&
                           !recorded.graph->reads_clock() &&
                           !(e.verdict == evaluation::kind::deadlock && setups[i].shown);
      if (!answers) {
        ++counts_.rerun;
        if (counts_.why.empty()) {
          counts_.why = e.verdict == evaluation::kind::needs_run ? e.why
                        : e.verdict == evaluation::kind::deadlock
                            ? "a deadlock's exit status, for the table"
                            : "the program reads cycle counts: qrn::cycle(), qrn::snapshot_run()";
        }
      } else {
        ++counts_.answered;
        graph_answered[i] = true;
        outcomes[i].graph_valued = true;
        outcomes[i].result = recorded.result;
        outcomes[i].reported = true;
        outcomes[i].total = e.cycles;
        if (e.verdict == evaluation::kind::deadlock) {
          outcomes[i].result.status = -1;  // never an exit status: not as the recorded run
          outcomes[i].reported = false;
        }
      }
      if (!answers || verify_) {
        real.push_back(setups[i]);
        real_index.push_back(i);
      }
    }
    const std::vector<outcome> runs = run_programs_for(real);
    for (std::size_t k = 0; k < runs.size(); ++k) {
      const std::size_t i = real_index[k];
      if (graph_answered[i]) {
        compare(setups[i], outcomes[i], runs[k]);
      }
      outcomes[i] = runs[k];
      outcomes[i].graph_valued = graph_answered[i];
    }
    return outcomes;
  }

  const graph_counts& counts() const { return counts_; }

 private:
  // --verify: the graph's answer `valued` against the real run's.
  void compare(const depth_setup& setup, const outcome& valued, const outcome& run) const {
    ++counts_.verified;
    const outcome& recorded = *setup.answered;
    const bool run_exits = run.result.status == recorded.result.status &&
                           run.result.out == recorded.result.out && run.reported;
    const bool graph_exits = valued.reported;
    if (run_exits == graph_exits && (!run_exits || run.total == valued.total)) {
      return;
    }
    ++counts_.differing;
    std::string depths;
    for (const std::uint64_t depth : depths_of(*recorded.graph, setup)) {
      depths += (depths.empty() ? "" : ",") + std::to_string(depth);
    }
    std::fprintf(stderr, "qrn-depths: --verify: at depths %s the graph gives %s, a run %s\n",
                 depths.c_str(),
                 graph_exits ? (std::to_string(valued.total) + " cycles").c_str() : "a deadlock",
                 run_exits ? (std::to_string(run.total) + " cycles").c_str()
                 : run.result.status == recorded.result.status
                     ? "other output"
                     : ("exit status " + std::to_string(run.result.status)).c_str());
  }

  // The runs of `setups`, side by side; their reports go in a directory that
  // lives as long as the call.
  std::vector<outcome> run_programs_for(const std::vector<depth_setup>& setups) const {
    if (setups.empty()) {
      return {};
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string dir =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/qrn-depths.XXXXXX";
    if (::mkdtemp(dir.data()) == nullptr) {
      fail("cannot make a directory for the run reports: " + dir);
    }
    std::vector<env_changes> runs;
    std::vector<std::string> paths;
    for (const depth_setup& setup : setups) {
      paths.push_back(dir + "/run" + std::to_string(runs.size()) + ".json");
      std::string overrides;
      for (const auto& entry : setup.overrides) {
        overrides +=
            (overrides.empty() ? "" : ",") + entry.first + "=" + std::to_string(entry.second);
      }
      runs.push_back({{"QRN_TIME", "cycles"},
                      {"QRN_DEPTH", setup.mode},
                      {"QRN_REPORT", paths.back()},
                      {"QRN_DEPTH_OVERRIDE",
                       overrides.empty() ? std::nullopt : std::optional<std::string>(overrides)}});
      runs.back().push_back({"QRN_TIME_GRAPH", setup.record_graph ? std::optional<std::string>(
                                                                        paths.back() + ".graph")
                                                                  : std::nullopt});
      if (setup.seed) {
        runs.back().push_back({"QRN_SCHEDULE_SEED", std::to_string(*setup.seed)});
      }
    }
    std::vector<run_result> results;
    try {
      results = qrn_tools::run_programs(program_, runs, qrn_tools::processors(), time_limit_);
    } catch (const std::runtime_error& error) {
      ::rmdir(dir.c_str());
      fail(error.what());
    }
    std::vector<outcome> outcomes(results.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
      std::ifstream file(paths[i]);
      std::stringstream text;
      text << file.rdbuf();
      std::remove(paths[i].c_str());
      outcomes[i].result = std::move(results[i]);
      outcomes[i].reported = read_report(text.str(), outcomes[i]);
      if (setups[i].record_graph) {
        std::string error;
        std::optional<event_graph> graph = event_graph::load(paths[i] + ".graph", error);
        std::remove((paths[i] + ".graph").c_str());
        if (graph) {
          outcomes[i].graph = std::make_shared<const event_graph>(std::move(*graph));
        }
      }
    }
    ::rmdir(dir.c_str());
    return outcomes;
  }

 private:
  std::vector<std::string> program_;
  bool verify_;
  double time_limit_;
  mutable graph_counts counts_;
};

// One stream's row and searches.
struct stream_search {
  stream_entry reference;     // from the unbounded run
  std::uint64_t ceiling = 1;  // its depth while another stream is searched
  bool searched = false;      // QRN_DEPTH_OVERRIDE can set its depth alone
  // The test bench writes or reads it and it declares no depth: the bench's
  // own buffer, not a FIFO of the design; unbounded in every run.
  bool bench_buffer = false;
  std::uint64_t deadlock_lo = 1, deadlock_hi = 1;  // the answer lies in [lo, hi]
  std::uint64_t speed_lo = 1, speed_hi = 1;
};

// The whole search under one seed, or under the environment's schedule
// without --seeds.
struct depth_search {
  std::optional<std::uint64_t> seed;
  std::string error;  // why it stopped early; empty when it did not
  outcome best;       // the run with unbounded streams
  depth_setup base;   // every stream at its ceiling
  std::vector<stream_search> streams;
  outcome declared;   // the run at the declared depths
  outcome suggested;  // the run at the full-speed depths
  // --joint: on the unbounded run's event graph, the least storage within
  // the slack, and the trade-off curve; `joint_error` when the graph cannot.
  std::optional<qrn_tools::joint_vector> joint;
  std::vector<qrn_tools::joint_vector> curve;
  std::string joint_error;
  std::vector<std::uint64_t> joint_ceiling;  // by stream of the graph; 0: not searched
  bool group_probes = true;                  // see probe_verdicts()
};

void stop(depth_search& search, const std::string& error) {
  search.error = error;
  search.streams.clear();
}

struct verdict {
  bool same_exit = false;  // status and standard output as in the unbounded run
  bool fast = false;       // and within 1 % of its cycles
};

verdict judge(const outcome& run, const outcome& best) {
  verdict v;
  v.same_exit = run.result.status == best.result.status && run.result.out == best.result.out;
  v.fast = v.same_exit && run.reported && run.total * 100 <= best.total * 101;
  return v;
}

// What a cycle line shows: the run's cycle count, or none and why.
struct cycle_figure {
  std::optional<std::uint64_t> cycles;
  std::string text;
};

cycle_figure figure(const outcome& run, const outcome& best) {
  if (judge(run, best).same_exit && run.reported) {
    return {run.total, std::to_string(run.total)};
  }
  if (run.result.status != best.result.status) {
    return {std::nullopt, "none: exit status " + std::to_string(run.result.status) +
                              " (unbounded: " + std::to_string(best.result.status) + ")"};
  }
  return {std::nullopt, "none: its standard output differs from the unbounded run's"};
}

// The worse of two figures: none before any count, then the larger count; `a` on a tie.
const cycle_figure& worse(const cycle_figure& a, const cycle_figure& b) {
  if (!a.cycles || (b.cycles && *a.cycles >= *b.cycles)) {
    return a;
  }
  return b;
}

depth_setup ceilings(const std::vector<stream_search>& streams) {
  depth_setup setup{"declared", {}, std::nullopt};
  for (const stream_search& s : streams) {
    if (!s.bench_buffer && s.reference.name.find(',') == std::string::npos) {
      std::uint64_t& depth = setup.overrides[s.reference.name];
      depth = std::max(depth, s.ceiling);
    }
  }
  return setup;
}

// The runs of `setups_of(search)` for every search that goes on, all side by
// side; `take(search, runs)` gets each search's outcomes in the same order.
template <typename Setups, typename Take>
void run_each(const timed_runner& runner, std::vector<depth_search>& searches, Setups setups_of,
              Take take) {
  std::vector<depth_setup> setups;
  for (const depth_search& search : searches) {
    if (search.error.empty()) {
      const std::vector<depth_setup> more = setups_of(search);
      setups.insert(setups.end(), more.begin(), more.end());
    }
  }
  const std::vector<outcome> runs = runner.run(setups);
  auto next = runs.begin();
  for (depth_search& search : searches) {
    if (search.error.empty()) {
      const std::size_t count = setups_of(search).size();
      take(search, std::vector<outcome>(next, next + static_cast<std::ptrdiff_t>(count)));
      next += static_cast<std::ptrdiff_t>(count);
    }
  }
}

// Whether a search's probes are valued on its event graph: a probe then
// costs a pass over the graph, not a run.
bool probes_on_graph(const depth_search& s) {
  return s.best.graph != nullptr && s.best.graph->answers_other_depths();
}

using probe = std::tuple<std::size_t, std::size_t, std::uint64_t>;  // search, stream, depth

// The verdict of every probe in `probes` (each run with its stream at its
// depth, every other stream as in its seed's base). On the graph a search's
// probes of distinct streams are first valued together in one candidate:
// smaller depths never make a run faster nor free it of a deadlock (a
// longest path over more edges), so when the candidate with all of them
// keeps the exit and the pace, each of them alone does. Else each is valued
// alone, and the search tries no more groups (most of its streams need more
// than their probes). With runs, which need not be monotone so, each probe
// is run alone.
std::map<probe, verdict> probe_verdicts(const timed_runner& runner,
                                        std::vector<depth_search>& searches,
                                        const std::set<probe>& probes) {
  std::vector<std::vector<probe>> groups;
  std::map<std::pair<std::size_t, std::size_t>, std::size_t> group_of;  // search, rank
  std::pair<std::size_t, std::size_t> last_stream{SIZE_MAX, SIZE_MAX};
  std::size_t rank = 0;  // of a probe among its stream's probes
  for (const probe& p : probes) {
    const std::pair<std::size_t, std::size_t> stream{std::get<0>(p), std::get<1>(p)};
    rank = stream == last_stream ? rank + 1 : 0;
    last_stream = stream;
    const depth_search& s = searches[stream.first];
    if (!s.group_probes || !probes_on_graph(s)) {
      groups.push_back({p});
      continue;
    }
    const auto group = group_of.emplace(std::make_pair(stream.first, rank), groups.size());
    if (group.second) {
      groups.emplace_back();
    }
    groups[group.first->second].push_back(p);
  }
  std::map<probe, verdict> verdicts;
  while (!groups.empty()) {
    std::vector<depth_setup> setups;
    for (const std::vector<probe>& group : groups) {
      const depth_search& s = searches[std::get<0>(group.front())];
      setups.push_back(s.base);
      for (const probe& p : group) {
        setups.back().overrides[s.streams[std::get<1>(p)].reference.name] = std::get<2>(p);
      }
      setups.back().answered = &s.best;
    }
    const std::vector<outcome> runs = runner.run(setups);
    std::vector<std::vector<probe>> alone;
    for (std::size_t k = 0; k < groups.size(); ++k) {
      depth_search& s = searches[std::get<0>(groups[k].front())];
      const verdict v = judge(runs[k], s.best);
      if (groups[k].size() == 1 || (runs[k].graph_valued && v.same_exit && v.fast)) {
        for (const probe& p : groups[k]) {
          verdicts[p] = v;
        }
        continue;
      }
      s.group_probes = false;
      for (const probe& p : groups[k]) {
        alone.push_back({p});
      }
    }
    groups = std::move(alone);
  }
  return verdicts;
}

// Narrows every unfinished search of every seed once per round of probes,
// until each has one depth left. With runs a round halves each range: the
// fewest rounds of runs side by side. On the graph a range [lo, hi] is
// probed at 2 lo - 1 while that is below its middle (1, 3, 7, ...), then
// halved: the fewest probes when, as for most FIFOs, the answer is a few
// places.
void search(const timed_runner& runner, std::vector<depth_search>& searches) {
  std::map<probe, verdict> known;
  const auto probe_in = [&searches](std::size_t n, std::uint64_t lo, std::uint64_t hi) {
    const std::uint64_t middle = lo + (hi - lo) / 2;
    return probes_on_graph(searches[n]) ? std::min(middle, 2 * lo - 1) : middle;
  };
  for (;;) {
    std::set<probe> probes;
    for (std::size_t n = 0; n < searches.size(); ++n) {
      for (std::size_t i = 0; i < searches[n].streams.size(); ++i) {
        const stream_search& s = searches[n].streams[i];
        for (const auto& range : {std::make_pair(s.deadlock_lo, s.deadlock_hi),
                                  std::make_pair(s.speed_lo, s.speed_hi)}) {
          const probe p{n, i, probe_in(n, range.first, range.second)};
          if (range.first < range.second && known.count(p) == 0) {
            probes.insert(p);
          }
        }
      }
    }
    if (probes.empty()) {
      return;
    }
    known.merge(probe_verdicts(runner, searches, probes));
    const auto narrow = [&](std::size_t n, std::size_t i, std::uint64_t& lo, std::uint64_t& hi,
                            bool verdict::*passes) {
      if (lo < hi) {
        const std::uint64_t at = probe_in(n, lo, hi);
        (known.at({n, i, at}).*passes ? hi : lo) = known.at({n, i, at}).*passes ? at : at + 1;
      }
    };
    for (std::size_t n = 0; n < searches.size(); ++n) {
      for (std::size_t i = 0; i < searches[n].streams.size(); ++i) {
        stream_search& s = searches[n].streams[i];
        narrow(n, i, s.deadlock_lo, s.deadlock_hi, &verdict::same_exit);
        narrow(n, i, s.speed_lo, s.speed_hi, &verdict::fast);
      }
    }
  }
}

// Every search's unbounded run; a search whose run fails stops there.
void run_unbounded(const timed_runner& runner, const std::string& program,
                   std::vector<depth_search>& searches) {
  run_each(
      runner, searches,
      [](const depth_search& s) {
        return std::vector<depth_setup>{{"unbounded", {}, s.seed, true, nullptr}};
      },
      [&](depth_search& s, const std::vector<outcome>& runs) {
        s.best = runs.front();
        if (s.best.result.status == 127) {
          fail("cannot run " + program);
        }
        if (s.best.result.status != 0) {
          stop(s, program + " " +
                      qrn_tools::failure_with_report(s.best.result, runner.time_limit(),
                                                     " in a timed run with unbounded streams", 8));
          return;
        }
        if (!s.best.reported) {
          stop(s, program +
                      " wrote no timed run report (QRN_TIME=cycles, QRN_REPORT); does it link "
                      "qrn::runtime?");
          return;
        }
        for (const stream_entry& entry : s.best.streams) {
          stream_search stream;
          stream.reference = entry;
          stream.ceiling = std::max(entry.peak, entry.cycles_peak + 1);
          stream.bench_buffer =
              entry.depth == 0 && s.best.graph != nullptr &&
              std::any_of(s.best.graph->streams().begin(), s.best.graph->streams().end(),
                          [&entry](const qrn_tools::graph_stream& g) {
                            return g.bench_end && g.name == entry.name;
                          });
          s.streams.push_back(stream);
        }
        s.base = ceilings(s.streams);
        s.base.seed = s.seed;
      });
}

// Whether the unbounded run's graph shows, without a run, that every stream
// at its ceiling keeps the pace and which overrides reach their stream: it
// values the ceilings, and it knows the name each stream had when its depth
// was set. `ceilings` must be valued.
bool graph_checks(const depth_search& s) {
  if (s.best.graph == nullptr || s.best.graph->reads_clock() ||
      s.best.ceilings->result.verdict != evaluation::kind::cycles ||
      s.best.ceilings->result.cycles * 100 > s.best.total * 101) {
    return false;
  }
  for (const auto& set : s.base.overrides) {
    const std::vector<qrn_tools::graph_stream>& streams = s.best.graph->streams();
    if (std::none_of(streams.begin(), streams.end(), [&set](const qrn_tools::graph_stream& g) {
          return g.name == set.first && !g.depth_name.empty();
        })) {
      return false;  // a stream the run never used, or one whose depth was set before
    }
  }
  return true;
}

// Whether QRN_DEPTH_OVERRIDE reaches `name`, by the graph: the one stream of
// that name had it when its depth was set.
bool override_reaches(const event_graph& graph, const std::string& name) {
  std::size_t named = 0;
  bool reaches = false;
  for (const qrn_tools::graph_stream& g : graph.streams()) {
    named += g.name == name ? 1 : 0;
    reaches = reaches || (g.name == name && g.depth_name == name);
  }
  return named == 1 && reaches;
}

// Every stream at its ceiling keeps the best pace unless a stream the
// overrides cannot reach holds it up; which overrides reach their stream
// opens their searches. The unbounded run's graph tells where it can
// (graph_checks), else one run per search does.
void check_ceilings(const timed_runner& runner, std::vector<depth_search>& searches) {
  for (depth_search& s : searches) {
    if (s.error.empty() && s.best.graph != nullptr) {
      s.best.ceilings = std::make_shared<const qrn_tools::valuation>(
          s.best.graph->value(depths_of(*s.best.graph, s.base)));
    }
  }
  run_each(
      runner, searches,
      [](const depth_search& s) {
        return graph_checks(s) ? std::vector<depth_setup>{} : std::vector<depth_setup>{s.base};
      },
      [](depth_search& s, const std::vector<outcome>& runs) {
        if (runs.empty()) {
          std::map<std::string, int> uses;
          for (const stream_search& stream : s.streams) {
            ++uses[stream.reference.name];
          }
          for (stream_search& stream : s.streams) {
            const std::string& name = stream.reference.name;
            stream.searched = uses[name] == 1 && s.base.overrides.count(name) != 0 &&
                              override_reaches(*s.best.graph, name);
            if (stream.searched) {
              stream.deadlock_hi = stream.speed_hi = stream.ceiling;
            }
          }
          return;
        }
        const outcome& check = runs.front();
        if (!judge(check, s.best).fast) {
          stop(s,
               "with every stream at its peak, the run does not keep the pace of the unbounded "
               "run (" +
                   std::to_string(s.best.total) + " cycles): " + figure(check, s.best).text);
          return;
        }
        std::map<std::string, int> uses;
        for (const stream_search& stream : s.streams) {
          ++uses[stream.reference.name];
        }
        for (std::size_t i = 0; i < s.streams.size(); ++i) {
          stream_search& stream = s.streams[i];
          const std::string& name = stream.reference.name;
          const auto set = s.base.overrides.find(name);
          // The report of a destroyed stream has no depth to check; its name
          // was fixed when it was made, which is when overrides apply.
          stream.searched = uses[name] == 1 && set != s.base.overrides.end() &&
                            i < check.streams.size() && check.streams[i].name == name &&
                            (check.streams[i].depth == set->second || check.streams[i].destroyed);
          if (stream.searched) {
            stream.deadlock_hi = stream.speed_hi = stream.ceiling;
          }
        }
      });
}

// Every search's runs at the declared depths and at its full-speed depths.
void run_results(const timed_runner& runner, std::vector<depth_search>& searches) {
  run_each(
      runner, searches,
      [](const depth_search& s) {
        depth_setup suggestion{"declared", {}, s.seed, false, &s.best, true};
        for (const stream_search& stream : s.streams) {
          if (stream.searched) {
            suggestion.overrides[stream.reference.name] = stream.speed_hi;
          }
        }
        return std::vector<depth_setup>{{"declared", {}, s.seed, false, &s.best, true}, suggestion};
      },
      [](depth_search& s, const std::vector<outcome>& runs) {
        s.declared = runs[0];
        s.suggested = runs[1];
      });
}

// What the table shows: the streams' rows and the three cycle lines.
struct depth_table {
  std::vector<stream_search> streams;
  cycle_figure unbounded, declared, suggested;
};

depth_table table_of(const depth_search& s) {
  return {s.streams, figure(s.best, s.best), figure(s.declared, s.best),
          figure(s.suggested, s.best)};
}

// `from` merged into `into`: the k-th row of a name takes the larger depths of
// the k-th rows of that name in both (unknown when either is), rows only
// `from` has are added, and each cycle line is the worse of the two.
void merge(depth_table& into, const depth_table& from) {
  std::map<std::string, std::size_t> seen;  // rows of `from` of each name so far
  for (const stream_search& row : from.streams) {
    std::size_t k = seen[row.reference.name]++;
    auto at = into.streams.begin();
    for (; at != into.streams.end(); ++at) {
      if (at->reference.name == row.reference.name && k-- == 0) {
        break;
      }
    }
    if (at == into.streams.end()) {
      into.streams.push_back(row);
      continue;
    }
    at->searched = at->searched && row.searched;
    at->bench_buffer = at->bench_buffer && row.bench_buffer;
    at->deadlock_hi = std::max(at->deadlock_hi, row.deadlock_hi);
    at->speed_hi = std::max(at->speed_hi, row.speed_hi);
  }
  into.unbounded = worse(into.unbounded, from.unbounded);
  into.declared = worse(into.declared, from.declared);
  into.suggested = worse(into.suggested, from.suggested);
}

std::string depth_text(std::uint64_t depth) { return depth == 0 ? "-" : std::to_string(depth); }

void print_table(const depth_table& table) {
  std::size_t width = 6;
  for (const stream_search& s : table.streams) {
    width = std::max(width, s.reference.name.size());
  }
  const int w = static_cast<int>(width);
  std::printf("%-*s  %8s  %11s  %10s\n", w, "stream", "declared", "no deadlock", "full speed");
  std::string bench_buffers;
  for (const stream_search& s : table.streams) {
    const std::string unsearched = s.bench_buffer ? "-" : "?";
    const std::string deadlock = s.searched ? std::to_string(s.deadlock_hi) : unsearched;
    const std::string speed = s.searched ? std::to_string(s.speed_hi) : unsearched;
    if (s.bench_buffer && bench_buffers.find(" " + s.reference.name + ",") == std::string::npos) {
      bench_buffers += " " + s.reference.name + ",";
    }
    std::printf("%-*s  %8s  %11s  %10s\n", w, s.reference.name.c_str(),
                depth_text(s.reference.depth).c_str(), deadlock.c_str(), speed.c_str());
  }
  std::set<std::string> noted;
  for (const stream_search& s : table.streams) {
    if (!s.searched && !s.bench_buffer && noted.insert(s.reference.name).second) {
      std::printf(
          "? %s: QRN_DEPTH_OVERRIDE cannot set its depth alone (a comma in its name, a "
          "name another stream has, or a name given after it was made); it kept its "
          "declared depth (%s) in every run\n",
          s.reference.name.c_str(), depth_text(s.reference.depth).c_str());
    }
  }
  if (!bench_buffers.empty()) {
    bench_buffers.pop_back();
    std::printf("-%s: the test bench's own %s (no declared depth), left unbounded in every run\n",
                bench_buffers.c_str(),
                bench_buffers.find(',') == std::string::npos ? "stream" : "streams");
  }
  std::printf("cycles unbounded: %s\n", table.unbounded.text.c_str());
  std::printf("cycles at the declared depths: %s\n", table.declared.text.c_str());
  std::printf("cycles at the full-speed depths: %s\n", table.suggested.text.c_str());
}

std::string json_number(std::optional<std::uint64_t> number) {
  return number ? std::to_string(*number) : "null";
}

// A search's JSON line after its seed: two seeds agree when these agree.
std::string json_result(const depth_search& s) {
  if (!s.error.empty()) {
    return R"("status":"failed","error":)" + qrn_tools::json_string(s.error) +
           R"(,"cycles_unbounded":null,"cycles_declared":null,"cycles_suggested":null,)"
           R"("streams":[]})";
  }
  const depth_table table = table_of(s);
  std::string streams;
  for (const stream_search& row : table.streams) {
    const auto searched = [&](std::uint64_t depth) {
      return json_number(row.searched ? std::optional<std::uint64_t>(depth) : std::nullopt);
    };
    streams +=
        (streams.empty() ? "{\"name\":" : ",{\"name\":") +
        qrn_tools::json_string(row.reference.name) + ",\"declared\":" +
        json_number(row.reference.depth == 0 ? std::nullopt
                                             : std::optional<std::uint64_t>(row.reference.depth)) +
        ",\"no_deadlock\":" + searched(row.deadlock_hi) +
        ",\"full_speed\":" + searched(row.speed_hi) +
        ",\"bench_buffer\":" + (row.bench_buffer ? "true" : "false") + "}";
  }
  return R"("status":"ok","cycles_unbounded":)" + json_number(table.unbounded.cycles) +
         ",\"cycles_declared\":" + json_number(table.declared.cycles) +
         ",\"cycles_suggested\":" + json_number(table.suggested.cycles) + ",\"streams\":[" +
         streams + "]}";
}

// The joint search of every search that went on, on its unbounded run's
// graph: the streams it searched range up to their ceilings, the others keep
// their depths of the ceiling run.
void search_jointly(std::vector<depth_search>& searches, double slack) {
  for (depth_search& s : searches) {
    if (!s.error.empty()) {
      continue;
    }
    const event_graph* graph = s.best.graph.get();
    if (graph == nullptr) {
      s.joint_error = "the run recorded no event graph";
      continue;
    }
    qrn_tools::joint_limits limits;
    limits.fixed = depths_of(*graph, s.base);
    for (const qrn_tools::graph_stream& stream : graph->streams()) {
      std::uint64_t ceiling = 0;
      for (const stream_search& searched : s.streams) {
        if (searched.searched && searched.reference.name == stream.name) {
          ceiling = searched.ceiling;
        }
      }
      limits.ceiling.push_back(ceiling);
    }
    const evaluation base = graph->evaluate(limits.fixed);
    if (base.verdict == evaluation::kind::needs_run || graph->reads_clock()) {
      s.joint_error = base.verdict == evaluation::kind::needs_run
                          ? base.why
                          : "the program reads cycle counts: qrn::cycle(), qrn::snapshot_run()";
      continue;
    }
    s.joint_ceiling = limits.ceiling;
    s.joint =
        qrn_tools::least_storage(*graph, limits, s.best.total, slack, qrn_tools::joint_evaluations);
    s.curve =
        qrn_tools::trade_off(*graph, limits, s.best.total, slack, qrn_tools::curve_evaluations);
  }
}

// --verify: every joint answer valued again by a real run at its depths.
void verify_joint(const timed_runner& runner, std::vector<depth_search>& searches) {
  run_each(
      runner, searches,
      [](const depth_search& s) {
        std::vector<depth_setup> setups;
        if (s.joint) {
          setups.push_back(s.base);
          setups.back().answered = &s.best;
          const event_graph& graph = *s.best.graph;
          for (std::size_t i = 0; i < graph.streams().size(); ++i) {
            if (s.joint_ceiling[i] != 0) {
              setups.back().overrides[graph.streams()[i].name] = s.joint->depths[i];
            }
          }
        }
        return setups;
      },
      [](depth_search&, const std::vector<outcome>&) {});
}

std::string percent(double fraction) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", fraction * 100);
  return text;
}

// The graph's streams in the order of the run report (of creation).
std::vector<std::size_t> report_order(const depth_search& s) {
  const event_graph& graph = *s.best.graph;
  std::vector<std::size_t> order(graph.streams().size());
  std::vector<std::size_t> place(order.size(), s.best.streams.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    order[i] = i;
    for (std::size_t k = 0; k < s.best.streams.size(); ++k) {
      if (s.best.streams[k].name == graph.streams()[i].name) {
        place[i] = std::min(place[i], k);
      }
    }
  }
  std::stable_sort(order.begin(), order.end(),
                   [&place](std::size_t a, std::size_t b) { return place[a] < place[b]; });
  return order;
}

std::string named_depths(const depth_search& s, const std::vector<std::uint64_t>& depths) {
  const event_graph& graph = *s.best.graph;
  std::string text;
  for (const std::size_t i : report_order(s)) {
    text += (text.empty() ? "" : " ") + graph.streams()[i].name + "=" +
            (depths[i] == 0 ? std::string("-") : std::to_string(depths[i]));
  }
  return text;
}

void print_joint(const depth_search& s, double slack) {
  const std::string seed = s.seed ? "seed " + std::to_string(*s.seed) + ": " : "";
  if (!s.joint) {
    std::printf("%sjoint depths: not searched: %s\n", seed.c_str(), s.joint_error.c_str());
    return;
  }
  const qrn_tools::joint_vector& joint = *s.joint;
  if (joint.found && joint.least) {
    std::printf("%sjoint depths, the least storage within %s of unbounded: %s\n", seed.c_str(),
                percent(slack).c_str(), named_depths(s, joint.depths).c_str());
  } else if (joint.found) {
    std::printf(
        "%sjoint depths, the least storage found within %s of unbounded (the search "
        "stopped after %" PRIu64 " candidates; a smaller vector may exist): %s\n",
        seed.c_str(), percent(slack).c_str(), qrn_tools::joint_evaluations,
        named_depths(s, joint.depths).c_str());
  } else {
    std::printf(
        "%sjoint depths: none within %s of unbounded up to the ceilings; the best found: %s\n",
        seed.c_str(), percent(slack).c_str(), named_depths(s, joint.depths).c_str());
  }
  std::printf("%sjoint storage: %" PRIu64 " bits; cycles: %" PRIu64 " (unbounded: %" PRIu64 ")\n",
              seed.c_str(), joint.bits, joint.cycles, s.best.total);
  std::printf("%strade-off (least storage for each cycle count):\n%s%10s  %12s  %8s\n",
              seed.c_str(), seed.c_str(), "cycles", "bits", "slower");
  for (const qrn_tools::joint_vector& point : s.curve) {
    const double slower = static_cast<double>(point.cycles - s.best.total) /
                          static_cast<double>(std::max<std::uint64_t>(s.best.total, 1));
    std::printf("%s%10" PRIu64 "  %12" PRIu64 "  %8s\n", seed.c_str(), point.cycles, point.bits,
                percent(slower).c_str());
  }
}

std::string joint_json(const depth_search& s, double slack) {
  if (!s.joint) {
    return R"(,"joint":{"error":)" + qrn_tools::json_string(s.joint_error) + "}";
  }
  std::string depths;
  const event_graph& graph = *s.best.graph;
  for (const std::size_t i : report_order(s)) {
    depths += (depths.empty() ? "" : ",") + std::string("{\"name\":") +
              qrn_tools::json_string(graph.streams()[i].name) + ",\"depth\":" +
              (s.joint->depths[i] == 0 ? "null" : std::to_string(s.joint->depths[i])) + "}";
  }
  std::string curve;
  for (const qrn_tools::joint_vector& point : s.curve) {
    curve += (curve.empty() ? "" : ",") + std::string("{\"cycles\":") +
             std::to_string(point.cycles) + ",\"bits\":" + std::to_string(point.bits) + "}";
  }
  std::ostringstream slack_text;
  slack_text << slack * 100;
  return R"(,"joint":{"slack_percent":)" + slack_text.str() +
         ",\"found\":" + (s.joint->found ? "true" : "false") +
         ",\"cycles\":" + std::to_string(s.joint->cycles) +
         ",\"bits\":" + std::to_string(s.joint->bits) + ",\"depths\":[" + depths + "],\"curve\":[" +
         curve + "],\"least\":" + (s.joint->least ? "true" : "false") + "}";
}

struct options {
  std::optional<qrn_tools::seed_range> seeds;
  bool json = false;
  bool joint = false;   // the joint search (also with --slack or --plot)
  double slack = 0.01;  // --slack, as a fraction
  std::string plot;     // --plot: the trade-off curve's SVG file
  bool verify = false;  // reruns what the event graph answered, and compares
  bool rerun = false;   // searches by real runs alone
  double time_limit = qrn_tools::default_time_limit;  // --time-limit: seconds per run
  std::vector<std::string> program;
};

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: qrn-depths [--seeds A-B] [--json] [--verify] [--rerun] [--joint] [--slack "
               "P%%] [--plot FILE.svg] [--time-limit S] PROGRAM [ARGS...]   (1 <= A <= B)\n");
  std::exit(2);
}

options parse(int argc, char** argv) {
  options o;
  int at = 1;
  for (; at < argc && argv[at][0] == '-'; ++at) {
    const std::string word = argv[at];
    if (word == "--json" && !o.json) {
      o.json = true;
    } else if (word == "--verify" && !o.verify) {
      o.verify = true;
    } else if (word == "--rerun" && !o.rerun) {
      o.rerun = true;
    } else if (word == "--joint") {
      o.joint = true;
    } else if (word == "--slack" && at + 1 < argc) {
      const std::string value = argv[++at];
      char* end = nullptr;
      const double percent = std::strtod(value.c_str(), &end);
      if (end == value.c_str() || (*end != '\0' && std::string(end) != "%") || !(percent >= 0) ||
          percent > 1e6) {
        fail("--slack " + value + ": expected a percentage such as 1%");
      }
      o.slack = percent / 100;
      o.joint = true;
    } else if (word == "--time-limit" && at + 1 < argc) {
      const std::string value = argv[++at];
      const std::optional<double> limit = qrn_tools::parse_time_limit(value);
      if (!limit) {
        fail(qrn_tools::bad_time_limit(value));
      }
      o.time_limit = *limit;
    } else if (word == "--plot" && at + 1 < argc) {
      o.plot = argv[++at];
      o.joint = true;
    } else if (word == "--seeds" && !o.seeds && at + 1 < argc) {
      const std::string value = argv[++at];
      o.seeds = qrn_tools::parse_seed_range(word, value);
      if (!o.seeds) {
        fail(qrn_tools::bad_seed_range(word, value));
      }
    } else {
      usage();
    }
  }
  if (at == argc) {
    usage();
  }
  o.program.assign(argv + at, argv + argc);
  return o;
}

// The first search that stopped early, as one line and exit 2.
void fail_on_error(const std::vector<depth_search>& searches) {
  for (const depth_search& s : searches) {
    if (!s.error.empty()) {
      fail((s.seed ? "seed " + std::to_string(*s.seed) + ": " : std::string()) + s.error);
    }
  }
}

int print_json(const std::vector<depth_search>& searches, const options& o) {
  bool all_ok = true;
  for (const depth_search& s : searches) {
    all_ok = all_ok && s.error.empty();
    std::string result = json_result(s);
    if (o.joint && s.error.empty()) {
      result.insert(result.size() - 1, joint_json(s, o.slack));
    }
    std::printf("{\"seed\":%s,%s\n", json_number(s.seed).c_str(), result.c_str());
  }
  return all_ok ? 0 : 1;
}

// The table over every seed, and which seeds' results differ from the first's.
void print_seeds_table(const qrn_tools::seed_range& range,
                       const std::vector<depth_search>& searches) {
  depth_table table = table_of(searches.front());
  std::string differing;
  std::uint64_t count = 0;
  for (auto s = searches.begin() + 1; s != searches.end(); ++s) {
    merge(table, table_of(*s));
    if (json_result(*s) != json_result(searches.front())) {
      differing += " " + std::to_string(*s->seed);
      ++count;
    }
  }
  print_table(table);
  const std::string seeds =
      "seeds " + std::to_string(range.first) + "-" + std::to_string(range.last) + ": ";
  if (count == 0) {
    std::printf("%sall %" PRIu64 " give the same depths and cycle counts\n", seeds.c_str(),
                range.count());
  } else {
    std::printf("%s%" PRIu64 " of %" PRIu64 " give depths or cycle counts other than seed %" PRIu64
                "'s:%s\n",
                seeds.c_str(), count, range.count(), range.first, differing.c_str());
  }
}

// The trade-off curve of `s` as an SVG picture in `path`; one line on
// standard error when it cannot be written.
void write_plot(const std::string& path, const depth_search& s) {
  std::ofstream file(path, std::ios::trunc);
  file << qrn_tools::trade_off_svg(s.curve, s.best.total);
  file.close();
  if (!file) {
    std::fprintf(stderr, "qrn-depths: cannot write the plot to %s\n", path.c_str());
  }
}

// The per-stream full-speed depths are each found with the other streams at
// their ceilings; set together they may be slower than unbounded, or than
// the declared depths. Says so, rather than let the table call them full
// speed.
void note_slow_suggestion(const depth_search& s) {
  const cycle_figure best = figure(s.best, s.best);
  const cycle_figure declared = figure(s.declared, s.best);
  const cycle_figure suggested = figure(s.suggested, s.best);
  if (!s.error.empty() || !best.cycles) {
    return;
  }
  if (!suggested.cycles) {
    std::printf(
        "%snote: set together, the full-speed depths do not run as the unbounded run "
        "does; the joint search (--joint) sizes the streams together\n",
        s.seed ? ("seed " + std::to_string(*s.seed) + ": ").c_str() : "");
    return;
  }
  const bool slower_than_declared = declared.cycles && *suggested.cycles > *declared.cycles;
  if (*suggested.cycles * 100 > *best.cycles * 101 || slower_than_declared) {
    std::printf("%snote: set together, the full-speed depths take %" PRIu64
                " cycles, %s; the joint search (--joint) sizes the streams together\n",
                s.seed ? ("seed " + std::to_string(*s.seed) + ": ").c_str() : "", *suggested.cycles,
                slower_than_declared ? "more than at the declared depths"
                                     : "more than 1 % above unbounded");
  }
}

// On standard error: where a search's declared depths deadlock in its graph,
// the streams on the cycle; how many candidates the graphs valued; --verify's
// result. False when --verify found a difference.
bool report_graphs(const timed_runner& runner, const std::vector<depth_search>& searches,
                   const options& o) {
  for (const depth_search& s : searches) {
    if (s.best.graph == nullptr || !s.error.empty()) {
      continue;
    }
    const evaluation declared =
        s.best.graph->evaluate(depths_of(*s.best.graph, {"declared", {}, s.seed}));
    if (declared.verdict == evaluation::kind::deadlock) {
      std::fprintf(stderr,
                   "qrn-depths: %sat the declared depths the design deadlocks: a dependency "
                   "cycle through streams %s\n",
                   s.seed ? ("seed " + std::to_string(*s.seed) + ": ").c_str() : "",
                   stream_list(*s.best.graph, declared.cycle_streams).c_str());
    }
  }
  const graph_counts& counts = runner.counts();
  if (counts.answered + counts.rerun != 0) {
    std::fprintf(stderr,
                 "qrn-depths: the event graph valued %" PRIu64 " of %" PRIu64
                 " candidates; %" PRIu64 " needed a real run%s%s%s\n",
                 counts.answered, counts.answered + counts.rerun, counts.rerun,
                 counts.why.empty() ? "" : " (", counts.why.c_str(), counts.why.empty() ? "" : ")");
  }
  if (o.verify) {
    std::fprintf(stderr,
                 "qrn-depths: --verify: %" PRIu64 " answers of the graph rerun, %" PRIu64
                 " differ\n",
                 counts.verified, counts.differing);
  }
  return counts.differing == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const options o = parse(argc, argv);
  const timed_runner runner(o.program, o.verify, o.time_limit);
  std::vector<depth_search> searches(1);
  if (o.seeds) {
    searches.clear();
    for (const std::uint64_t seed : o.seeds->seeds()) {
      searches.emplace_back();
      searches.back().seed = seed;
    }
  }
  run_unbounded(runner, o.program.front(), searches);
  if (o.rerun) {
    for (depth_search& s : searches) {
      s.best.graph = nullptr;
    }
  }
  if (!o.json) {
    fail_on_error(searches);
  }
  check_ceilings(runner, searches);
  if (!o.json) {
    fail_on_error(searches);
  }
  search(runner, searches);
  run_results(runner, searches);
  if (o.joint) {
    search_jointly(searches, o.slack);
    if (o.verify) {
      verify_joint(runner, searches);
    }
  }
  const bool agreed = report_graphs(runner, searches, o);
  if (!o.plot.empty()) {
    write_plot(o.plot, searches.front());
  }
  if (o.json) {
    const int status = print_json(searches, o);
    return status != 0 ? status : agreed ? 0 : 1;
  }
  if (o.seeds) {
    print_seeds_table(*o.seeds, searches);
  } else {
    print_table(table_of(searches.front()));
  }
  for (const depth_search& s : searches) {
    note_slow_suggestion(s);
  }
  if (o.joint) {
    for (const depth_search& s : searches) {
      print_joint(s, o.slack);
    }
  }
  return agreed ? 0 : 1;
}
