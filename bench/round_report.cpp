#include "round_report.h"

#include <algorithm>
#include <cstdio>

namespace qrn_bench {

namespace {

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string format(double value) {
  char text[32];
  std::snprintf(text, sizeof text, value >= 100 ? "%.0f" : value >= 1 ? "%.2f" : "%.3f", value);
  return text;
}

}  // namespace

bool round_reporter::ReportContext(const Context& context) {
  if (context_printed_) {
    return true;
  }
  context_printed_ = true;
  return ConsoleReporter::ReportContext(context);
}

void round_reporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    const std::string name = run.run_name.function_name;
    if (run.error_occurred) {
      errors_.push_back(name + ": " + run.error_message);
      continue;
    }
    for (const auto& counter : run.counters) {
      const bool per_unit = (counter.second.flags & benchmark::Counter::kInvert) != 0;
      measurements_[round_][name + "#" + counter.first] =
          per_unit ? counter.second.value * 1e9 : counter.second.value;
    }
  }
  ConsoleReporter::ReportRuns(runs);
}

bool round_reporter::summarise(const std::vector<scenario_summary>& scenarios,
                               std::ostream& out) const {
  bool all_met = true;
  out << "\n| scenario | unit | "
      << "subject | median | reference | median | median ratio | "
      << "target | met |\n|---|---|---|---|---|---|---|---|---|\n";
  for (const scenario_summary& scenario : scenarios) {
    const std::string subject_key = scenario.name + "/" + scenario.subject + "#" + scenario.counter;
    const std::string reference_key =
        scenario.name + "/" + scenario.reference + "#" + scenario.counter;
    std::vector<double> subject_values;
    std::vector<double> reference_values;
    std::vector<double> ratios;
    for (const auto& round : measurements_) {
      const auto subject = round.second.find(subject_key);
      const auto reference = round.second.find(reference_key);
      if (subject != round.second.end()) {
        subject_values.push_back(subject->second);
      }
      if (reference != round.second.end()) {
        reference_values.push_back(reference->second);
      }
      if (subject != round.second.end() && reference != round.second.end() &&
          reference->second > 0) {
        ratios.push_back(subject->second / reference->second);
      }
    }
    if (subject_values.empty()) {
      continue;  // filtered out
    }
    const double subject_median = median(subject_values);
    std::string target = "-";
    std::string met = "-";
    if (scenario.ratio_limit > 0 && !ratios.empty()) {
      const bool ok = median(ratios) <= scenario.ratio_limit;
      target = "ratio <= " + format(scenario.ratio_limit);
      met = ok ? "yes" : "no";
      all_met = all_met && ok;
    } else if (scenario.value_limit > 0) {
      const bool ok = subject_median <= scenario.value_limit;
      target = "<= " + format(scenario.value_limit) + " " + scenario.unit;
      met = ok ? "yes" : "no";
      all_met = all_met && ok;
    }
    out << "| " << scenario.name << " | " << scenario.unit << " | " << scenario.subject << " | "
        << format(subject_median) << " | "
        << (scenario.reference.empty() ? "-" : scenario.reference) << " | "
        << (reference_values.empty() ? "-" : format(median(reference_values))) << " | "
        << (ratios.empty() ? "-" : format(median(ratios))) << " | " << target << " | " << met
        << " |\n";
  }
  out << "\nRounds: " << measurements_.size() << "; each cell is the median over rounds.\n";
  for (const std::string& error : errors_) {
    out << "Error: " << error << "\n";
  }
  return all_met;
}

}  // namespace qrn_bench
