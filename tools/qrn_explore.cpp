// qrn-explore [--json] [--time-limit S] {-n M | --seeds A-B} PROGRAM [ARGS...]
//
// Runs PROGRAM with QRN_SCHEDULE=fibers once in the fixed order and once
// under each of the seeds A to B (QRN_SCHEDULE_SEED; -n M means --seeds 1-M;
// as many at a time as there are processors), and compares each seeded run's
// standard output and exit status with the unseeded run's. Prints that all
// agree (exit 0), or the seeds that differ, the first difference and the
// command that replays one (exit 1). Usage errors and programs that cannot be
// run: exit 2. The children's standard input is /dev/null. A run still going
// after S seconds (default 120) is killed and counts as a run that ended with
// status 137. When the unseeded run, or the first seeded run that differs,
// fails (any status but 0), the first lines of its standard error (its hang
// report, its error) follow on standard error.
//
// --json prints instead one line for each run, the unseeded run first:
//   {"seed":N,"status":S,"output_hash":"H","first_difference":D}
// N is null for the unseeded run; H is 16 hex digits (FNV-1a of the output),
// so that the unseeded runs of separate invocations can be compared; D is
// null when the run agrees with the unseeded run, else
// {"line":L,"expected":E,"got":G}: the first differing line (from 1) and its
// text in the unseeded and in this run (null past the end of an output); L is
// null when no line differs, and E and G are then the two exit statuses.
// Lines of invocations over disjoint seed ranges concatenate into the lines
// of one invocation over their union (plus one unseeded line each).
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "json_text.h"
#include "program_runs.h"
#include "seed_range.h"

namespace {

using qrn_tools::run_result;

struct options {
  qrn_tools::seed_range seeds;
  bool json = false;
  double time_limit = qrn_tools::default_time_limit;
  std::vector<std::string> program;
};

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "qrn-explore: %s\n", message.c_str());
  std::exit(2);
}

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: qrn-explore [--json] [--time-limit S] {-n M | --seeds A-B} PROGRAM "
               "[ARGS...]   (1 <= M, 1 <= A <= B, 0 < S)\n");
  std::exit(2);
}

options parse(int argc, char** argv) {
  options o;
  bool have_seeds = false;
  int at = 1;
  for (; at < argc; ++at) {
    const std::string word = argv[at];
    if (word == "--json") {
      o.json = true;
    } else if (word == "--time-limit") {
      if (at + 1 == argc) {
        usage();
      }
      const std::string value = argv[++at];
      const std::optional<double> limit = qrn_tools::parse_time_limit(value);
      if (!limit) {
        fail(qrn_tools::bad_time_limit(value));
      }
      o.time_limit = *limit;
    } else if (word == "-n" || word == "--seeds") {
      if (have_seeds || at + 1 == argc) {
        usage();
      }
      const std::string value = argv[++at];
      const std::optional<qrn_tools::seed_range> seeds = qrn_tools::parse_seed_range(word, value);
      if (!seeds) {
        fail(qrn_tools::bad_seed_range(word, value));
      }
      o.seeds = *seeds;
      have_seeds = true;
    } else {
      break;
    }
  }
  if (!have_seeds || at == argc) {
    usage();
  }
  o.program.assign(argv + at, argv + argc);
  return o;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    result.push_back(line);
  }
  return result;
}

// Where a seeded run first differs from the unseeded run.
struct difference {
  std::size_t line = 0;                 // from 1; 0 when no line differs
  std::optional<std::string> expected;  // the unseeded run's line; none past its end
  std::optional<std::string> got;       // the seeded run's line; none past its end
};

difference first_difference(const run_result& base, const run_result& other) {
  const std::vector<std::string> a = lines(base.out);
  const std::vector<std::string> b = lines(other.out);
  for (std::size_t i = 0; i < a.size() || i < b.size(); ++i) {
    difference found{i + 1, std::nullopt, std::nullopt};
    if (i < a.size()) {
      found.expected = a[i];
    }
    if (i < b.size()) {
      found.got = b[i];
    }
    if (found.expected != found.got) {
      return found;
    }
  }
  return {};
}

std::string described(const difference& d, const run_result& base, const run_result& other) {
  if (d.line == 0) {
    return "exit status: unseeded " + std::to_string(base.status) + ", seeded " +
           std::to_string(other.status);
  }
  return "line " + std::to_string(d.line) + ": unseeded \"" + d.expected.value_or("(no line)") +
         "\", seeded \"" + d.got.value_or("(no line)") + "\"";
}

std::string as_json(const difference& d, const run_result& base, const run_result& other) {
  if (d.line == 0) {
    return R"({"line":null,"expected":)" + std::to_string(base.status) +
           ",\"got\":" + std::to_string(other.status) + "}";
  }
  const auto text = [](const std::optional<std::string>& line) {
    return line ? qrn_tools::json_string(*line) : std::string("null");
  };
  return "{\"line\":" + std::to_string(d.line) + ",\"expected\":" + text(d.expected) +
         ",\"got\":" + text(d.got) + "}";
}

std::uint64_t fnv1a(const std::string& text) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char c : text) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  }
  return hash;
}

bool agrees(const run_result& base, const run_result& other) {
  return other.out == base.out && other.status == base.status;
}

std::string quoted(const std::string& text) {
  if (text.find_first_of(" \t'\"\\$`") == std::string::npos && !text.empty()) {
    return text;
  }
  std::string result = "'";
  for (const char c : text) {
    result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return result + "'";
}

// results[0] is the unseeded run, results[k] the run under seed first + k - 1.
int report_json(const options& o, const std::vector<run_result>& results) {
  const run_result& base = results.front();
  bool all_agree = true;
  for (std::size_t k = 0; k < results.size(); ++k) {
    const run_result& run = results[k];
    const std::string seed = k == 0 ? "null" : std::to_string(o.seeds.first + k - 1);
    const bool same = agrees(base, run);
    all_agree = all_agree && same;
    const std::string diff = same ? "null" : as_json(first_difference(base, run), base, run);
    std::printf("{\"seed\":%s,\"status\":%d,\"output_hash\":\"%016" PRIx64
                "\",\"first_difference\":%s}\n",
                seed.c_str(), run.status, fnv1a(run.out), diff.c_str());
  }
  return all_agree ? 0 : 1;
}

int report_text(const options& o, const std::vector<run_result>& results) {
  const run_result& base = results.front();
  const std::string seeds = std::to_string(o.seeds.count());
  std::vector<std::size_t> differing;  // indexes into results
  for (std::size_t k = 1; k < results.size(); ++k) {
    if (!agrees(base, results[k])) {
      differing.push_back(k);
    }
  }
  if (differing.empty()) {
    std::printf(
        "qrn-explore: all %s seeds agree with the fixed order (same output, exit status %d)\n",
        seeds.c_str(), base.status);
    return 0;
  }
  std::string list;
  for (const std::size_t k : differing) {
    list += (list.empty() ? "" : " ") + std::to_string(o.seeds.first + k - 1);
  }
  const run_result& shown = results[differing.front()];
  const std::string shown_seed = std::to_string(o.seeds.first + differing.front() - 1);
  std::string replay = "QRN_SCHEDULE=fibers QRN_SCHEDULE_SEED=" + shown_seed;
  for (const std::string& word : o.program) {
    replay += " " + quoted(word);
  }
  std::printf("qrn-explore: %zu of %s seeds differ from the fixed order: %s\n", differing.size(),
              seeds.c_str(), list.c_str());
  std::printf("qrn-explore: seed %s, first difference: %s\n", shown_seed.c_str(),
              described(first_difference(base, shown), base, shown).c_str());
  std::printf("qrn-explore: replay: %s\n", replay.c_str());
  return 1;
}

// On standard error: how the unseeded run and the first seeded run that
// differs from it ended, and the start of their reports, for those that failed.
void show_failures(const options& o, const std::vector<run_result>& results) {
  const auto show = [&](const std::string& which, const run_result& run) {
    if (run.status == 0) {
      return;
    }
    std::fprintf(stderr, "qrn-explore: %s %s\n", which.c_str(),
                 qrn_tools::failure_with_report(run, o.time_limit, "", 8).c_str());
  };
  show("the fixed-order run", results.front());
  for (std::size_t k = 1; k < results.size(); ++k) {
    if (!agrees(results.front(), results[k])) {
      show("seed " + std::to_string(o.seeds.first + k - 1), results[k]);
      return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const options o = parse(argc, argv);
  std::vector<qrn_tools::env_changes> runs{
      {{"QRN_SCHEDULE", "fibers"}, {"QRN_SCHEDULE_SEED", std::nullopt}}};
  for (const std::uint64_t seed : o.seeds.seeds()) {
    runs.push_back({{"QRN_SCHEDULE", "fibers"}, {"QRN_SCHEDULE_SEED", std::to_string(seed)}});
  }
  std::vector<run_result> results;
  try {
    results = qrn_tools::run_programs(o.program, runs, qrn_tools::processors(), o.time_limit);
  } catch (const std::runtime_error& error) {
    fail(error.what());
  }
  if (results.front().status == 127) {
    fail("cannot run " + o.program.front());
  }
  show_failures(o, results);
  return o.json ? report_json(o, results) : report_text(o, results);
}
