// qrn against SystemC on the same work (see chain_shapes.h): chains of K =
// 1, 4, 16 and 64 always-running stages, with polling and with blocking
// stages, and the sample's doubling shape. Every run is a child process
// (SystemC elaborates once per process; qrn's components live until the
// process ends). A round runs every configuration once, in an order that
// reverses from one round to the next; the table gives, per configuration,
// the median over rounds of each side's nanoseconds per element and of the
// ratio qrn / SystemC taken within a round.
//
// Usage: qrn_vs_systemc [--smoke] [--rounds=N]
//   --smoke     one round of small runs: only checks that every run works
//   --rounds=N  number of rounds (default 5)
// Exits 1 when a run fails its own checks. The targets in the table are
// reported, never enforced.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "child_process.h"

namespace {

struct configuration {
  std::string name;           // row of the table
  std::string qrn_shape;      // argument of qrn_chain_child
  std::string systemc_shape;  // argument of systemc_chain_child
  int stages;
  long elements;
  double target;  // ratio qrn / SystemC to stay at or below
};

std::vector<configuration> configurations(bool smoke) {
  std::vector<configuration> all;
  for (const int stages : {1, 4, 16, 64}) {
    // About the same number of stage steps for every K.
    const long elements = smoke ? 200 : std::max(10000L, 400000L / stages);
    const std::string k = std::to_string(stages);
    all.push_back({"chain K=" + k + ", blocking", "blocking", "chain", stages, elements, 1.0});
    all.push_back({"chain K=" + k + ", polling", "polling", "chain", stages, elements, 1.5});
  }
  all.push_back({"sample's doubling", "doubling", "doubling", 1, smoke ? 200 : 400000, 0});
  return all;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Runs one child; its nanoseconds per element, or a negative number after a
// failure (reported on standard error).
double run_once(const std::string& program, const std::string& shape, int stages, long elements) {
  const qrn_bench::child_result run =
      qrn_bench::run_child({program, shape, std::to_string(stages), std::to_string(elements)},
                           {"SYSTEMC_DISABLE_COPYRIGHT_MESSAGE=1"});
  const std::size_t last_line = run.out.find_last_of('\n', run.out.size() - 2);
  const double nanoseconds =
      std::strtod(run.out.c_str() + (last_line == std::string::npos ? 0 : last_line + 1), nullptr);
  if (run.exit_status != 0 || nanoseconds <= 0) {
    std::fprintf(stderr, "%s %s %d %ld failed (status %d): %s", program.c_str(), shape.c_str(),
                 stages, elements, run.exit_status, run.out.c_str());
    return -1;
  }
  return nanoseconds / static_cast<double>(elements);
}

struct measurements {
  std::vector<double> qrn, systemc, ratio;
};

}  // namespace

int main(int argc, char** argv) {
  bool smoke = false;
  int rounds = 5;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--smoke") {
      smoke = true;
      rounds = 1;
    } else if (arg.compare(0, 9, "--rounds=") == 0 && std::atoi(arg.c_str() + 9) > 0) {
      rounds = std::atoi(arg.c_str() + 9);
    } else {
      std::fprintf(stderr, "usage: %s [--smoke] [--rounds=N]\n", argv[0]);
      return 2;
    }
  }
  std::vector<configuration> order = configurations(smoke);
  std::map<std::string, measurements> results;
  bool failed = false;
  for (int round = 0; round < rounds; ++round) {
    for (const configuration& config : order) {
      const double systemc =
          run_once(QRN_SYSTEMC_CHILD, config.systemc_shape, config.stages, config.elements);
      const double qrn = run_once(QRN_QRN_CHILD, config.qrn_shape, config.stages, config.elements);
      if (systemc < 0 || qrn < 0) {
        failed = true;
        continue;
      }
      measurements& m = results[config.name];
      m.qrn.push_back(qrn);
      m.systemc.push_back(systemc);
      m.ratio.push_back(qrn / systemc);
      std::printf("round %d  %-24s SystemC %10.1f ns/elem  qrn %10.1f ns/elem  ratio %.3f\n", round,
                  config.name.c_str(), systemc, qrn, qrn / systemc);
    }
    std::reverse(order.begin(), order.end());
  }
  std::printf(
      "\nSystemC: SC_THREADs joined by sc_fifo<int> of depth %d. Medians over %d rounds.\n\n", 16,
      rounds);
  std::printf(
      "| configuration | elements | SystemC ns/elem | qrn ns/elem | ratio | target | met |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (const configuration& config : configurations(smoke)) {
    const auto found = results.find(config.name);
    if (found == results.end()) {
      continue;
    }
    const double ratio = median(found->second.ratio);
    const bool has_target = config.target > 0;
    std::printf("| %s | %ld | %.1f | %.1f | %.3f | %s | %s |\n", config.name.c_str(),
                config.elements, median(found->second.systemc), median(found->second.qrn), ratio,
                has_target ? ("<= " + std::to_string(config.target).substr(0, 3)).c_str() : "-",
                has_target ? (ratio <= config.target ? "yes" : "no") : "-");
  }
  std::fflush(stdout);
  return failed ? 1 : 0;
}
