// Collects the results of benchmark rounds and summarises them: for every
// scenario, the median over rounds of each implementation's measurement and
// of the ratio subject/reference taken within one round. Taking the ratio
// inside a round, where both implementations ran back to back, cancels most
// of the noise of a shared machine.
#ifndef QRN_BENCH_ROUND_REPORT_H
#define QRN_BENCH_ROUND_REPORT_H

#include <benchmark/benchmark.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace qrn_bench {

// One line of the summary. Benchmarks are named "<name>/<implementation>".
struct scenario_summary {
  std::string name;       // e.g. "S2_two_threads"
  std::string counter;    // the user counter that holds the measurement
  std::string unit;       // unit of the measurement, for the table
  std::string subject;    // implementation measured, e.g. "qrn"
  std::string reference;  // implementation compared with; empty for none
  double ratio_limit;     // target for the median ratio; 0 for none
  double value_limit;     // target for the subject's median value; 0 for none
};

// Console output as usual, plus a record of every measurement by round.
// Counters with the kInvert flag (seconds per unit) are recorded in ns.
class round_reporter : public benchmark::ConsoleReporter {
 public:
  void start_round(int round) { round_ = round; }
  bool ReportContext(const Context& context) override;
  void ReportRuns(const std::vector<Run>& runs) override;

  // True when a benchmark reported an error (a failed check).
  bool any_error() const { return !errors_.empty(); }

  // Prints the summary table (markdown) and the errors; true when every
  // target in `scenarios` was met.
  bool summarise(const std::vector<scenario_summary>& scenarios, std::ostream& out) const;

 private:
  // measurements_[round]["<benchmark name>#<counter>"]
  std::map<int, std::map<std::string, double>> measurements_;
  std::vector<std::string> errors_;
  int round_ = 0;
  bool context_printed_ = false;
};

}  // namespace qrn_bench

#endif  // QRN_BENCH_ROUND_REPORT_H
