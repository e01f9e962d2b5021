// Output check shared by the run-all test programs: after the run-all call,
// every result must already be in the output stream.
#ifndef QRN_TESTS_RUNTIME_PROGRAMS_EXPECT_RESULTS_H
#define QRN_TESTS_RUNTIME_PROGRAMS_EXPECT_RESULTS_H

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "HLS/hls_internal.h"

namespace qrn_test {

// Takes what `out` holds without waiting and compares it with `expected`.
// Prints "<n> results\n" when they match, otherwise what differed; returns the
// exit status for main.
inline int expect_results(qrn::internal::stream<int>& out, const std::vector<int>& expected) {
  std::size_t matched = 0;
  bool success = true;
  while (matched < expected.size()) {
    const int value = out.tryRead(success);
    if (!success) {
      std::printf("only %zu of %zu results\n", matched, expected.size());
      return 2;
    }
    if (value != expected[matched]) {
      std::printf("result %zu is %d, not %d\n", matched, value, expected[matched]);
      return 2;
    }
    ++matched;
  }
  (void)out.tryRead(success);
  if (success) {
    std::printf("more than %zu results\n", expected.size());
    return 2;
  }
  std::printf("%zu results\n", expected.size());
  return 0;
}

// The number given as the program's first argument.
inline int count_argument(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s <count> [mode]\n", argv[0]);
    std::exit(64);
  }
  return std::atoi(argv[1]);
}

// The program's second argument, or "" when there is none.
inline std::string mode_argument(int argc, char** argv) { return argc > 2 ? argv[2] : ""; }

}  // namespace qrn_test

#endif  // QRN_TESTS_RUNTIME_PROGRAMS_EXPECT_RESULTS_H
