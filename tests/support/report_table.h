// Reads the library's reports back, for tests: the rows of a run table
// (qrn::print_run_table) and the lines a report must contain.
#ifndef QRN_TESTS_SUPPORT_REPORT_TABLE_H
#define QRN_TESTS_SUPPORT_REPORT_TABLE_H

#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace qrn_test {

// The whitespace-separated fields after the name, keyed by the first field,
// of every line in `text` with at least `min_fields` of them. Stream rows
// hold type, written, read, peak, now, asleep; component rows calls, moving
// calls, asleep, waiting on.
inline std::map<std::string, std::vector<std::string>> table_rows(const std::string& text,
                                                                  std::size_t min_fields = 4) {
  std::map<std::string, std::vector<std::string>> rows;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string name;
    std::vector<std::string> values;
    fields >> name;
    for (std::string value; fields >> value;) {
      values.push_back(value);
    }
    if (values.size() >= min_fields) {
      rows.emplace(name, values);  // the first: a timed run's cycle table repeats the names
    }
  }
  return rows;
}

// Expects every one of `parts` somewhere in `report`.
inline void expect_contains_all(const std::string& report,
                                std::initializer_list<const char*> parts) {
  for (const char* part : parts) {
    EXPECT_NE(report.find(part), std::string::npos) << part << "\n" << report;
  }
}

}  // namespace qrn_test

#endif  // QRN_TESTS_SUPPORT_REPORT_TABLE_H
