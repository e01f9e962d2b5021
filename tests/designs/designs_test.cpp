// Runs every design program of tests/designs/programs in every mode of the
// test matrix (support/matrix_modes.h), and checks each run's exact standard output, its exit
// status, the lines it must print on standard error, and that no sanitizer reported anything. Each
// (design, mode) pair is a test case of its own, named DESIGN__MODE, so that CTest can run one mode
// at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/expect_runs.h"
#include "support/matrix_modes.h"
#include "support/run_process.h"

namespace {

// Text that one line of standard error must hold, all of it.
using stderr_line = std::vector<std::string>;

struct design {
  const char* name;  // the program is design_NAME
  const char* out;   // its whole standard output
  int status;
  std::vector<std::string> env;  // settings of its own, besides the mode's
  std::vector<stderr_line> err;
};

const design designs[] = {
    {"task_parallel",
     "lane 0, power 1: 395\nlane 1, power 2: 4292\nlane 2, power 3: 52113\n"
     "lane 3, power 4: 666008\n",
     0,
     {},
     {}},
    {"omega_network",
     "output 0: 12 packets, sum 3466, in order\noutput 1: 12 packets, sum 4666, in order\n"
     "output 2: 12 packets, sum 4266, in order\noutput 3: 12 packets, sum 3866, in order\n"
     "output 4: 12 packets, sum 5066, in order\noutput 5: 12 packets, sum 3866, in order\n"
     "output 6: 12 packets, sum 4266, in order\noutput 7: 12 packets, sum 4666, in order\n",
     0,
     {},
     {}},
    {"torus", "node 0: 244800\nnode 1: 299200\nnode 2: 136000\nnode 3: 190400\n", 0, {}, {}},
    {"stencil_chain",
     "transaction 0 (7 samples): 931855\ntransaction 1 (1 samples): 534303\n"
     "transaction 2 (12 samples): 665330\n",
     0,
     {},
     {}},
    {"repeated_region",
     "blocks: 41544 41198 40958 40983 41061 42146 40634 40553 40896 40921 41953 40759 40996 "
     "41286 41258 41283\ntotal: 658429\n",
     0,
     {},
     {}},
    {"moving_sum", "moving sums of 4: 1 5 14 30 54 86 126 174 230 294 366 446\n", 0, {}, {}},
    {"round_robin", "1 100 2 101 3 102 4 103 5 104 6 105 7 106 8 107 9 108 10 109\n", 0, {}, {}},
    {"four_lanes", "total 53000\n", 0, {}, {}},
    {"livelock",
     "waiting for an answer\n",
     1,
     {"QRN_ON_HANG=exit", "QRN_HANG_AFTER=0.5"},
     {{"qrn:   a livelock"},
      {"server(requests, answers) keeps polling", "requests (qrn::stream_in<int>)"},
      {"arbiter(grants, requests) keeps polling", "grants (qrn::stream_in<int>)"}}},
};

// The pairs left out of the matrix, each with its reason.
struct left_out_pair {
  const char* design;
  const char* mode;
  const char* reason;
};
const std::vector<left_out_pair> left_out = {};

struct pair {
  const design* d;
  const qrn_test::matrix_mode* m;
};

std::vector<pair> every_pair() {
  std::vector<pair> pairs;
  for (const design& d : designs) {
    for (const qrn_test::matrix_mode& m : qrn_test::matrix_modes()) {
      pairs.push_back({&d, &m});
    }
  }
  return pairs;
}

std::string pair_name(const testing::TestParamInfo<pair>& info) {
  return std::string(info.param.d->name) + "__" + info.param.m->name;
}

bool has_line_with(const std::string& err, const stderr_line& parts) {
  for (const std::string& line : qrn_test::lines_of(err)) {
    if (std::all_of(parts.begin(), parts.end(), [&line](const std::string& part) {
          return line.find(part) != std::string::npos;
        })) {
      return true;
    }
  }
  return false;
}

class Design : public testing::TestWithParam<pair> {};

TEST_P(Design, PrintsItsResultInEveryMode) {
  const design& d = *GetParam().d;
  const qrn_test::matrix_mode& m = *GetParam().m;
  for (const left_out_pair& out : left_out) {
    if (d.name == std::string(out.design) && m.name == out.mode) {
      GTEST_SKIP() << out.reason;
    }
  }
  std::vector<std::string> env = m.env;
  env.insert(env.end(), d.env.begin(), d.env.end());
  std::unique_ptr<qrn_test::short_tsan_exit_watch> short_watch;
  for (int run = 0; run < m.runs && !HasFailure(); ++run) {
    if (run == 1) {
      short_watch.reset(new qrn_test::short_tsan_exit_watch);
    }
    const qrn_test::process_result result = qrn_test::run_process(
        {std::string(QRN_DESIGNS_DIR) + "/design_" + d.name}, std::chrono::seconds(60), env);
    SCOPED_TRACE("run " + std::to_string(run) + ", standard error:\n" + result.err);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.term_signal, 0);
    EXPECT_EQ(result.exit_status, d.status);
    EXPECT_EQ(result.out, d.out);
    for (const stderr_line& line : d.err) {
      EXPECT_TRUE(has_line_with(result.err, line)) << "no line with: " << line.front();
    }
    EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos);
    EXPECT_EQ(result.err.find("runtime error"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Matrix, Design, testing::ValuesIn(every_pair()), pair_name);

}  // namespace
