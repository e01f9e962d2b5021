// Streams with more than one reader or writer are named at the end of the
// run, with every reader or writer; a stream with one of each is not.
#include <gtest/gtest.h>

#include <string>

#include "support/run_process.h"

namespace {

using qrn_test::process_result;
using qrn_test::run_process;

TEST(SharedStreams, OneReaderAndOneWriterGetNoWarning) {
  const process_result result = run_process({QRN_PROGRAM_SHARED_STREAMS, "one_each"});
  EXPECT_EQ(result.exit_status, 0);
  EXPECT_EQ(result.out, "sum 90\n");
  EXPECT_EQ(result.err, "");
}

TEST(SharedStreams, EachSharedStreamGetsOneLineNamingAllItsUsers) {
  for (int run = 0; run < 20; ++run) {
    const process_result result = run_process({QRN_PROGRAM_SHARED_STREAMS, "shared"});
    ASSERT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, "both answered\n");
    const std::vector<std::string> lines = qrn_test::lines_of(result.err);
    ASSERT_EQ(lines.size(), 2U) << result.err;
    const std::string& readers = lines[0].find("work") != std::string::npos ? lines[0] : lines[1];
    const std::string& writers = &readers == &lines[0] ? lines[1] : lines[0];
    EXPECT_EQ(readers.rfind("qrn: warning: stream work (qrn::stream_in<int>) has 3 readers, where "
                            "one is expected: ",
                            0),
              0U)
        << readers;
    for (const char* user : {"component worker<1>", "component worker<2>", "the test bench"}) {
      EXPECT_NE(readers.find(user), std::string::npos) << readers;
    }
    EXPECT_EQ(writers.rfind("qrn: warning: stream results (qrn::stream_out<int>) has 2 writers, "
                            "where one is expected: component worker<",
                            0),
              0U)
        << writers;
    EXPECT_EQ(writers.find("test bench"), std::string::npos) << writers;
  }
}

}  // namespace
