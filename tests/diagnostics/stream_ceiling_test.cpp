// The ceiling on one stream's storage (QRN_STREAM_LIMIT), seen from whole
// runs of programs/runaway_stream.cpp: a runaway writer is stopped with one
// line naming the stream, its writer and its size; a stream under the
// ceiling is untouched; a bad value gets one line and the default.
#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "support/run_process.h"

namespace {

using qrn_test::count;
using qrn_test::process_result;

process_result run(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  std::vector<std::string> argv{QRN_PROGRAM_RUNAWAY_STREAM};
  argv.insert(argv.end(), args.begin(), args.end());
  return qrn_test::run_process(argv, std::chrono::seconds(60), env);
}

TEST(StreamCeiling, StopsARunawayWriterNamingTheStreamItsWriterAndItsSize) {
  const std::uint64_t ceiling = 64 << 10;
  for (const char* who : {"generator", "bench"}) {
    SCOPED_TRACE(who);
    const process_result result = run({who}, {"QRN_STREAM_LIMIT=64k", "QRN_SETTLE_LIMIT=30"});
    EXPECT_EQ(result.exit_status, 1) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(count(result.err, "QRN_STREAM_LIMIT"), 1u) << result.err;
    const std::regex line(
        "qrn: stream samples \\(qrn::internal::stream<unsigned long>\\) holds ([0-9]+) elements "
        "that no one has read, written by (.*); its storage would grow to ([0-9]+) bytes, past "
        "QRN_STREAM_LIMIT=65536 bytes: ending the process with status 1\n");
    std::smatch found;
    ASSERT_TRUE(std::regex_search(result.err, found, line)) << result.err;
    EXPECT_EQ(found[2], std::string(who) == "bench" ? "the test bench" : "component generator");
    // Stopped as the storage passes the ceiling: not before the elements
    // alone fill a quarter of it, not after.
    const std::uint64_t held = std::stoull(found[1]);
    const std::uint64_t bytes = std::stoull(found[3]);
    EXPECT_GT(bytes, ceiling);
    EXPECT_LE(held * sizeof(std::uint64_t), ceiling);
    EXPECT_GT(held * sizeof(std::uint64_t), ceiling / 4);
  }
}

TEST(StreamCeiling, LeavesAStreamUnderTheCeilingAndIgnoresABadValue) {
  // 2,000 elements of 8 bytes: under 64K, over 16K.
  const std::string sum = "sum " + std::to_string(1999u * 2000u / 2) + "\n";
  for (const char* who : {"generator", "bench"}) {
    SCOPED_TRACE(who);
    process_result result = run({who, "2000"}, {"QRN_STREAM_LIMIT=64K"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, sum);
    EXPECT_EQ(count(result.err, "QRN_STREAM_LIMIT"), 0u) << result.err;
    // Not a ceiling of 16K (the typo's digits) but the default.
    result = run({who, "2000"}, {"QRN_STREAM_LIMIT=16KB"});
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, sum);
    EXPECT_EQ(count(result.err, "\n"), 1u) << result.err;
    EXPECT_EQ(result.err.rfind("qrn: ignoring QRN_STREAM_LIMIT=16KB: expected the bytes one stream "
                               "may hold (K, M or G suffix allowed), at least 1K; using 1G\n",
                               0),
              0u)
        << result.err;
    // Strict settings end the run before it starts.
    result = run({who, "2000"}, {"QRN_STREAM_LIMIT=16KB", "QRN_STRICT=1"});
    EXPECT_EQ(result.exit_status, 2) << result.err;
    EXPECT_EQ(result.out, "");
  }
}

}  // namespace
