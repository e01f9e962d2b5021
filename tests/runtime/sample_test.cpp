// The sample, run whole: with a static and with a shared emulation runtime it
// always prints every result, and it exports the enqueue marker.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "support/expect_runs.h"
#include "support/run_process.h"

namespace {

using qrn_test::expect_runs;

const char* const sample_output = "20\n40\n80\n+ 1 Latency\n";

TEST(Sample, PrintsEveryResultWithAStaticRuntime) {
  expect_runs({QRN_PROGRAM_SAMPLE}, 200, sample_output);
}

// With the runtime in a shared library, run-all can only see the components
// if the program and the library share one copy of the emulation state.
TEST(Sample, PrintsEveryResultWithASharedRuntime) {
  expect_runs({QRN_PROGRAM_SAMPLE_SHARED_RUNTIME}, 200, sample_output);
}

// True when `nm -D` lists `symbol` as defined in `program`.
bool exports_symbol(const std::string& program, const std::string& symbol) {
  const qrn_test::process_result nm = qrn_test::run_process({"/usr/bin/nm", "-D", program});
  EXPECT_EQ(nm.exit_status, 0) << nm.err;
  std::istringstream lines(nm.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (fields >> address >> type >> name && name == symbol) {
      return type != "U" && type != "w" && type != "v";
    }
  }
  return false;
}

TEST(Sample, ExportsTheEnqueueMarker) {
  EXPECT_TRUE(exports_symbol(QRN_PROGRAM_SAMPLE, "__qrn_enqueue_handle"));
  EXPECT_TRUE(exports_symbol(QRN_PROGRAM_SAMPLE_SHARED_RUNTIME, "__qrn_enqueue_handle"));
}

}  // namespace
