// qrn against SystemC on the same work (see chain_shapes.h): chains of K =
// 1, 4, 16 and 64 always-running stages, with polling and with blocking
// stages, and the sample's doubling shape, every one with the same number of
// elements. Each configuration runs on three sides: SystemC, and qrn with
// QRN_SCHEDULE=threads and with QRN_SCHEDULE=fibers (set for each child, so
// the caller's QRN_SCHEDULE changes nothing). Every run is a child process
// (SystemC elaborates once per process; qrn's components live until the
// process ends), whose peak resident memory is taken from wait4.
//
// A round runs every configuration on every side once; the next round runs
// the same in the reverse order. Standard error gets each round's figures;
// standard output gets a line naming the machine and, per configuration, the
// medians over rounds of each side's nanoseconds per element and peak memory,
// and of each qrn mode's ratio to SystemC taken within a round.
//
// Usage: qrn_vs_systemc [--smoke] [--rounds=N] [--elements=N]
//   --smoke       one round of small runs (unless --rounds or --elements say
//                 otherwise): only checks that every run works
//   --rounds=N    number of rounds (default 5)
//   --elements=N  elements per run (default 200000)
// Exits 1 when a run fails its own checks. The targets printed under the
// table are reported, never enforced.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "chain_shapes.h"
#include "child_process.h"

namespace {

struct configuration {
  std::string name;           // row of the table
  std::string qrn_shape;      // argument of qrn_chain_child
  std::string systemc_shape;  // argument of systemc_chain_child
  int stages;
};

std::vector<configuration> configurations() {
  std::vector<configuration> all;
  for (const int stages : {1, 4, 16, 64}) {
    const std::string k = std::to_string(stages);
    all.push_back({"chain K=" + k + ", blocking", "blocking", "chain", stages});
    all.push_back({"chain K=" + k + ", polling", "polling", "chain", stages});
  }
  all.push_back({"sample's doubling", "doubling", "doubling", 1});
  return all;
}

// What runs a configuration. The first side is the reference the others are
// compared with.
struct side {
  const char* name;                   // in the table's headings
  const char* program;                // the child
  std::string configuration::*shape;  // the child's first argument
  const char* setting;                // added to the child's environment
};

constexpr std::size_t side_count = 3;
const std::array<side, side_count> sides = {{
    {"SystemC", QRN_SYSTEMC_CHILD, &configuration::systemc_shape,
     "SYSTEMC_DISABLE_COPYRIGHT_MESSAGE=1"},
    {"qrn threads", QRN_QRN_CHILD, &configuration::qrn_shape, "QRN_SCHEDULE=threads"},
    {"qrn fibers", QRN_QRN_CHILD, &configuration::qrn_shape, "QRN_SCHEDULE=fibers"},
}};

struct options {
  int rounds = 5;
  long elements = 200000;
};

// Reads the command line into `chosen`; false (after the usage line) when it
// is not understood.
bool parse_options(int argc, char** argv, options& chosen) {
  bool smoke = false;
  int rounds = 0;
  long elements = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--smoke") {
      smoke = true;
    } else if (arg.compare(0, 9, "--rounds=") == 0 && std::atoi(arg.c_str() + 9) > 0) {
      rounds = std::atoi(arg.c_str() + 9);
    } else if (arg.compare(0, 11, "--elements=") == 0 && std::atol(arg.c_str() + 11) > 0) {
      elements = std::atol(arg.c_str() + 11);
    } else {
      std::fprintf(stderr, "usage: %s [--smoke] [--rounds=N] [--elements=N]\n", argv[0]);
      return false;
    }
  }
  if (smoke) {
    chosen = {1, 200};
  }
  chosen.rounds = rounds > 0 ? rounds : chosen.rounds;
  chosen.elements = elements > 0 ? elements : chosen.elements;
  return true;
}

// "CPU model, N online processors, load average A B C at the start".
std::string machine_description() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string model = "unknown CPU";
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.compare(0, 10, "model name") == 0 && line.find(':') != std::string::npos) {
      model = line.substr(line.find_first_not_of(" \t", line.find(':') + 1));
      break;
    }
  }
  std::ifstream loadavg("/proc/loadavg");
  std::string one, five, fifteen;
  loadavg >> one >> five >> fifteen;
  return model + ", " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) +
         " online processors, load average " + one + " " + five + " " + fifteen + " at the start";
}

struct sample {
  double ns_per_element = 0;
  double peak_mb = 0;
};

// Runs `config` once on `on`; false after a failure (reported on standard
// error).
bool run_once(const side& on, const configuration& config, long elements, sample& result) {
  const std::string& shape = config.*on.shape;
  const qrn_bench::child_result run = qrn_bench::run_child(
      {on.program, shape, std::to_string(config.stages), std::to_string(elements)}, {on.setting});
  const std::size_t last_line = run.out.find_last_of('\n', run.out.size() - 2);
  const double nanoseconds =
      std::strtod(run.out.c_str() + (last_line == std::string::npos ? 0 : last_line + 1), nullptr);
  if (run.exit_status != 0 || nanoseconds <= 0) {
    std::fprintf(stderr, "%s: %s %s %d %ld failed (status %d): %s", on.name, on.program,
                 shape.c_str(), config.stages, elements, run.exit_status, run.out.c_str());
    return false;
  }
  result.ns_per_element = nanoseconds / static_cast<double>(elements);
  result.peak_mb = static_cast<double>(run.peak_rss_kb) / 1024;
  return true;
}

// One side's figures for one configuration, a value per round.
struct side_measurements {
  std::vector<double> ns_per_element, peak_mb;
  std::vector<double> ratio;  // ns per element / the reference's; empty for the reference
};
using measurements = std::array<side_measurements, side_count>;

// Runs `config` on every side, in `side_order`, and records the round's
// figures; false when a run failed (the round then records nothing for it).
bool run_configuration(const configuration& config, const std::vector<std::size_t>& side_order,
                       long elements, int round, measurements& into) {
  std::array<sample, side_count> samples;
  for (const std::size_t s : side_order) {
    if (!run_once(sides[s], config, elements, samples[s])) {
      return false;
    }
  }
  std::fprintf(stderr, "round %d  %-20s", round, config.name.c_str());
  for (std::size_t s = 0; s < side_count; ++s) {
    into[s].ns_per_element.push_back(samples[s].ns_per_element);
    into[s].peak_mb.push_back(samples[s].peak_mb);
    if (s > 0) {
      into[s].ratio.push_back(samples[s].ns_per_element / samples[0].ns_per_element);
    }
    std::fprintf(stderr, "  %s %8.1f ns/elem %6.1f MB", sides[s].name, samples[s].ns_per_element,
                 samples[s].peak_mb);
  }
  std::fprintf(stderr, "\n");
  return true;
}

// Runs every round: each configuration on every side, in an order that
// reverses from one round to the next. False when a run failed.
bool run_rounds(const std::vector<configuration>& all, const options& chosen,
                std::map<std::string, measurements>& results) {
  std::vector<const configuration*> order;
  for (const configuration& config : all) {
    order.push_back(&config);
  }
  std::vector<std::size_t> side_order(side_count);
  std::iota(side_order.begin(), side_order.end(), 0);
  bool all_ran = true;
  for (int round = 0; round < chosen.rounds; ++round) {
    for (const configuration* config : order) {
      all_ran &=
          run_configuration(*config, side_order, chosen.elements, round, results[config->name]);
    }
    std::reverse(order.begin(), order.end());
    std::reverse(side_order.begin(), side_order.end());
  }
  return all_ran;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void print_table(const std::vector<configuration>& all,
                 const std::map<std::string, measurements>& results, long elements) {
  std::printf("| configuration | elements | SystemC ns/elem |");
  for (std::size_t s = 1; s < side_count; ++s) {
    std::printf(" %s ns/elem | %s / SystemC |", sides[s].name, sides[s].name);
  }
  for (const side& each : sides) {
    std::printf(" %s peak MB |", each.name);
  }
  // configuration, elements, then per side its time (and a qrn side's ratio)
  // and its memory
  const std::size_t columns = 2 + side_count + (side_count - 1) + side_count;
  std::printf("\n|");
  for (std::size_t column = 0; column < columns; ++column) {
    std::printf("---|");
  }
  std::printf("\n");
  for (const configuration& config : all) {
    const auto found = results.find(config.name);
    if (found == results.end() || found->second[0].ns_per_element.empty()) {
      continue;
    }
    const measurements& m = found->second;
    std::printf("| %s | %ld | %.1f |", config.name.c_str(), elements, median(m[0].ns_per_element));
    for (std::size_t s = 1; s < side_count; ++s) {
      std::printf(" %.1f | %.2f |", median(m[s].ns_per_element), median(m[s].ratio));
    }
    for (const side_measurements& each : m) {
      std::printf(" %.1f |", median(each.peak_mb));
    }
    std::printf("\n");
  }
}

// The machine, what ran, the table and the targets, as markdown.
void print_report(const std::string& machine, const std::vector<configuration>& all,
                  const std::map<std::string, measurements>& results, const options& chosen) {
  // Blank lines between the parts, so that the output pasted as markdown
  // keeps them apart.
  std::printf("machine: %s\n\n", machine.c_str());
  std::printf(
      "SystemC: `SC_THREAD`s joined by `sc_fifo<int>` of depth %d; qrn: `QRN_SCHEDULE=threads` "
      "and `QRN_SCHEDULE=fibers`. Medians over %d round%s; ratios taken within a round.\n\n",
      qrn_vs_systemc::systemc_fifo_depth, chosen.rounds, chosen.rounds == 1 ? "" : "s");
  print_table(all, results, chosen.elements);
  std::printf(
      "\ntargets: fibers <= 0.5x SystemC's time per element at K = 4, 16, 64; fibers peak memory "
      "<= 2x SystemC's\n");
}

}  // namespace

int main(int argc, char** argv) {
  options chosen;
  if (!parse_options(argc, argv, chosen)) {
    return 2;
  }
  const std::string machine = machine_description();
  const std::vector<configuration> all = configurations();
  std::map<std::string, measurements> results;
  const bool failed = !run_rounds(all, chosen, results);
  print_report(machine, all, results, chosen);
  std::fflush(stdout);
  return failed ? 1 : 0;
}
