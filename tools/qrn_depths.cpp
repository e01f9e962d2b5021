// qrn-depths PROGRAM [ARGS...]
//
// Finds the FIFO depths a design needs, from timed runs (QRN_TIME=cycles) of
// PROGRAM. The run with unbounded streams gives the best cycle count and each
// stream's peaks; a stream's ceiling is the larger of its peak in the
// emulation (the most elements it held at once, so that no write waits) and
// one more than its peak in cycles (room for an element comes the cycle
// after the read that frees it), and a run with every stream at its ceiling
// runs as the unbounded one. Then, for each stream on its own, with every
// other stream at its ceiling, a binary search from 1 to the ceiling finds
//   - the smallest depth at which the run exits as the unbounded one does
//     (same exit status and standard output): no deadlock, and
//   - the smallest such depth whose cycle count is within 1 % of the best.
// The runs of one search step, one per stream, go side by side, one per
// processor. Prints a table of the streams (declared depth, the two depths)
// and the cycle counts of the unbounded run, of a run at the declared depths
// and of a run at the full-speed depths. Exit 0; usage errors, programs that
// cannot be run or whose unbounded run fails or writes no timed report: one
// line on standard error and exit 2.
//
// Depths are set by name with QRN_DEPTH_OVERRIDE. A stream whose name it
// cannot address (a name with a comma, a name two streams share, or a name
// that differs when the stream is made) keeps its declared depth in every
// run; the output says so under the table. The children's standard error is
// discarded; the rest of the environment (QRN_DEPTH_DEFAULT included) is
// passed on.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "json_value.h"
#include "program_runs.h"

namespace {

using qrn_tools::env_changes;
using qrn_tools::json_value;
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
};

// The streams and total of a timed run's JSON report; false when `text` is none.
bool read_report(const std::string& text, outcome& into) {
  const std::optional<json_value> report = qrn_tools::parse_json(text);
  const json_value* cycles = report ? report->find("cycles") : nullptr;
  const json_value* total = cycles != nullptr ? cycles->find("total") : nullptr;
  const json_value* streams = report ? report->find("streams") : nullptr;
  if (total == nullptr || !total->whole() || streams == nullptr) {
    return false;
  }
  into.total = *total->whole();
  for (const json_value& stream : streams->items) {
    const json_value* name = stream.find("name");
    const json_value* depth = stream.find("depth");
    const json_value* stream_cycles = stream.find("cycles");
    const json_value* peak = stream.find("peak");
    const json_value* cycles_peak =
        stream_cycles != nullptr ? stream_cycles->find("peak") : nullptr;
    if (name == nullptr || depth == nullptr || peak == nullptr || !peak->whole() ||
        cycles_peak == nullptr || !cycles_peak->whole()) {
      return false;
    }
    const json_value* destroyed = stream.find("destroyed");
    into.streams.push_back({name->text, depth->whole().value_or(0), *peak->whole(),
                            *cycles_peak->whole(), destroyed != nullptr && destroyed->boolean});
  }
  return true;
}

// How a run sets the depths: QRN_DEPTH and the QRN_DEPTH_OVERRIDE entries.
struct depth_setup {
  std::string mode;
  std::map<std::string, std::uint64_t> overrides;
};

// Runs PROGRAM timed, each run's report in a file of its own.
class timed_runner {
 public:
  explicit timed_runner(std::vector<std::string> program) : program_(std::move(program)) {}

  // The runs of `setups`, side by side; their reports go in a directory that
  // lives as long as the call.
  std::vector<outcome> run(const std::vector<depth_setup>& setups) const {
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
    }
    std::vector<run_result> results;
    try {
      results = qrn_tools::run_programs(program_, runs, qrn_tools::processors());
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
    }
    ::rmdir(dir.c_str());
    return outcomes;
  }

 private:
  std::vector<std::string> program_;
};

// One stream's row and searches.
struct stream_search {
  stream_entry reference;                          // from the unbounded run
  std::uint64_t ceiling = 1;                       // its depth while another stream is searched
  bool searched = false;                           // QRN_DEPTH_OVERRIDE can set its depth alone
  std::uint64_t deadlock_lo = 1, deadlock_hi = 1;  // the answer lies in [lo, hi]
  std::uint64_t speed_lo = 1, speed_hi = 1;
};

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

depth_setup ceilings(const std::vector<stream_search>& streams) {
  depth_setup setup{"declared", {}};
  for (const stream_search& s : streams) {
    if (s.reference.name.find(',') == std::string::npos) {
      std::uint64_t& depth = setup.overrides[s.reference.name];
      depth = std::max(depth, s.ceiling);
    }
  }
  return setup;
}

// Halves every unfinished search once per round of runs (one run per
// distinct probe, every other stream as in `base`), until each has one depth
// left.
void search(const timed_runner& runner, std::vector<stream_search>& streams,
            const depth_setup& base, const outcome& best) {
  std::map<std::pair<std::size_t, std::uint64_t>, verdict> known;
  const auto middle = [](std::uint64_t lo, std::uint64_t hi) { return lo + (hi - lo) / 2; };
  for (;;) {
    std::set<std::pair<std::size_t, std::uint64_t>> probes;
    for (std::size_t i = 0; i < streams.size(); ++i) {
      const stream_search& s = streams[i];
      for (const auto& range :
           {std::make_pair(s.deadlock_lo, s.deadlock_hi), std::make_pair(s.speed_lo, s.speed_hi)}) {
        if (range.first < range.second &&
            known.count({i, middle(range.first, range.second)}) == 0) {
          probes.insert({i, middle(range.first, range.second)});
        }
      }
    }
    if (probes.empty()) {
      return;
    }
    std::vector<depth_setup> setups;
    for (const auto& probe : probes) {
      setups.push_back(base);
      setups.back().overrides[streams[probe.first].reference.name] = probe.second;
    }
    const std::vector<outcome> runs = runner.run(setups);
    std::size_t k = 0;
    for (const auto& probe : probes) {
      known[probe] = judge(runs[k++], best);
    }
    const auto narrow = [&](std::size_t i, std::uint64_t& lo, std::uint64_t& hi,
                            bool verdict::*passes) {
      if (lo < hi) {
        const std::uint64_t mid = middle(lo, hi);
        (known.at({i, mid}).*passes ? hi : lo) = known.at({i, mid}).*passes ? mid : mid + 1;
      }
    };
    for (std::size_t i = 0; i < streams.size(); ++i) {
      narrow(i, streams[i].deadlock_lo, streams[i].deadlock_hi, &verdict::same_exit);
      narrow(i, streams[i].speed_lo, streams[i].speed_hi, &verdict::fast);
    }
  }
}

std::string depth_text(std::uint64_t depth) { return depth == 0 ? "-" : std::to_string(depth); }

std::string cycles_text(const outcome& run, const outcome& best) {
  if (judge(run, best).same_exit && run.reported) {
    return std::to_string(run.total);
  }
  if (run.result.status != best.result.status) {
    return "none: exit status " + std::to_string(run.result.status) +
           " (unbounded: " + std::to_string(best.result.status) + ")";
  }
  return "none: its standard output differs from the unbounded run's";
}

void print_table(const std::vector<stream_search>& streams, const outcome& best,
                 const outcome& declared, const outcome& suggested) {
  std::size_t width = 6;
  for (const stream_search& s : streams) {
    width = std::max(width, s.reference.name.size());
  }
  const int w = static_cast<int>(width);
  std::printf("%-*s  %8s  %11s  %10s\n", w, "stream", "declared", "no deadlock", "full speed");
  for (const stream_search& s : streams) {
    const std::string deadlock = s.searched ? std::to_string(s.deadlock_hi) : "?";
    const std::string speed = s.searched ? std::to_string(s.speed_hi) : "?";
    std::printf("%-*s  %8s  %11s  %10s\n", w, s.reference.name.c_str(),
                depth_text(s.reference.depth).c_str(), deadlock.c_str(), speed.c_str());
  }
  std::set<std::string> noted;
  for (const stream_search& s : streams) {
    if (!s.searched && noted.insert(s.reference.name).second) {
      std::printf(
          "? %s: QRN_DEPTH_OVERRIDE cannot set its depth alone (a comma in its name, a "
          "name another stream has, or a name given after it was made); it kept its "
          "declared depth (%s) in every run\n",
          s.reference.name.c_str(), depth_text(s.reference.depth).c_str());
    }
  }
  std::printf("cycles unbounded: %s\n", cycles_text(best, best).c_str());
  std::printf("cycles at the declared depths: %s\n", cycles_text(declared, best).c_str());
  std::printf("cycles at the full-speed depths: %s\n", cycles_text(suggested, best).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: qrn-depths PROGRAM [ARGS...]\n");
    return 2;
  }
  const std::vector<std::string> program(argv + 1, argv + argc);
  const timed_runner runner(program);
  const outcome best = runner.run({{"unbounded", {}}}).front();
  if (best.result.status == 127) {
    fail("cannot run " + program.front());
  }
  if (best.result.status != 0) {
    fail(program.front() + " exited with status " + std::to_string(best.result.status) +
         " in a timed run with unbounded streams");
  }
  if (!best.reported) {
    fail(program.front() +
         " wrote no timed run report (QRN_TIME=cycles, QRN_REPORT); does it link qrn::runtime?");
  }
  std::vector<stream_search> streams;
  std::map<std::string, int> uses;
  for (const stream_entry& entry : best.streams) {
    stream_search s;
    s.reference = entry;
    s.ceiling = std::max(entry.peak, entry.cycles_peak + 1);
    streams.push_back(s);
    ++uses[entry.name];
  }
  // One run with every stream at its ceiling: it keeps the best pace unless
  // a stream the overrides cannot reach holds it up, and it shows which
  // overrides reach their stream.
  const depth_setup base = ceilings(streams);
  const outcome check = runner.run({base}).front();
  if (!judge(check, best).fast) {
    fail("with every stream at its peak, the run does not keep the pace of the unbounded run (" +
         std::to_string(best.total) + " cycles): " + cycles_text(check, best));
  }
  for (std::size_t i = 0; i < streams.size(); ++i) {
    const std::string& name = streams[i].reference.name;
    const auto set = base.overrides.find(name);
    // The report of a destroyed stream has no depth to check; its name was
    // fixed when it was made, which is when overrides apply.
    streams[i].searched = uses[name] == 1 && set != base.overrides.end() &&
                          i < check.streams.size() && check.streams[i].name == name &&
                          (check.streams[i].depth == set->second || check.streams[i].destroyed);
  }
  for (stream_search& s : streams) {
    if (s.searched) {
      s.deadlock_hi = s.speed_hi = s.ceiling;
    }
  }
  search(runner, streams, base, best);
  depth_setup suggestion{"declared", {}};
  for (const stream_search& s : streams) {
    if (s.searched) {
      suggestion.overrides[s.reference.name] = s.speed_hi;
    }
  }
  const std::vector<outcome> last = runner.run({{"declared", {}}, suggestion});
  print_table(streams, best, last[0], last[1]);
  return 0;
}
