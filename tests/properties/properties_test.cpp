// Streams with declared interface properties, seen from whole runs of
// programs/declared_streams.cpp: values and behaviour unchanged, a body for
// any properties, the dropped-sideband warnings, names from declarations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/report_table.h"
#include "support/run_process.h"

namespace {

using qrn_test::process_result;
using qrn_test::run_process;

process_result run(const std::vector<std::string>& env) {
  return run_process({QRN_PROGRAM_DECLARED_STREAMS}, std::chrono::seconds(60), env);
}

TEST(DeclaredProperties, ChangeNoBehaviourAndNameStreamsAfterTheirDeclarations) {
  const process_result result = run({"QRN_REPORT=off"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  // A stream_in<int>& body given a stream_in<int, buffer<4>>; the sideband
  // of every stream comes back as written.
  EXPECT_EQ(result.out.find("doubled 42\n1 100 2 013\n1 100 2 013\n1 100 2 013\n1 100 2 013\n"), 0u)
      << result.out;
  int local_line = 0;
  int member_line = 0;
  ASSERT_EQ(std::sscanf(result.out.c_str() + result.out.find("lines "), "lines %d %d", &local_line,
                        &member_line),
            2)
      << result.out;
  const auto rows = qrn_test::table_rows(result.out);
  const std::string file = "declared_streams.cpp:";
  EXPECT_EQ(rows.at("local_in").at(0), "(" + file + std::to_string(local_line) + ")");
  EXPECT_EQ(rows.at("local_out").at(0), "(" + file + std::to_string(local_line + 1) + ")");
  EXPECT_NE(result.out.find(" qrn::stream_in<int, qrn::buffer<4> > "), std::string::npos);
  // A member of an object with an implicit constructor: the class head, which
  // names no stream. Explicit and symbol names keep precedence.
  EXPECT_EQ(rows.at(file + std::to_string(member_line)).at(0), "qrn::stream_in<int>");
  EXPECT_EQ(rows.at("counts_dropped").at(0).rfind("qrn::stream_out<int,", 0), 0u) << result.out;
  EXPECT_EQ(rows.at("flags_dropped").at(0).rfind("qrn::stream_out<int,", 0), 0u) << result.out;
  EXPECT_EQ(result.err, "");
}

TEST(DeclaredProperties, SidebandTheInterfaceWouldDropIsWarnedOncePerStream) {
  for (const char* report : {"QRN_REPORT=summary", "QRN_REPORT=table"}) {
    const process_result result = run({report});
    SCOPED_TRACE(report);
    ASSERT_EQ(result.exit_status, 0) << result.err;
    std::vector<std::string> warnings;
    for (const std::string& line : qrn_test::lines_of(result.err)) {
      if (line.rfind("qrn: warning", 0) == 0) {
        warnings.push_back(line);
      }
    }
    std::sort(warnings.begin(), warnings.end());
    EXPECT_EQ(warnings,
              (std::vector<std::string>{
                  "qrn: warning: stream counts_dropped (qrn::stream_out<int, "
                  "qrn::usesPackets<true> >) was written nonzero empty counts without "
                  "qrn::usesEmpty<true>; its hardware interface would drop them",
                  "qrn: warning: stream flags_dropped (qrn::stream_out<int, qrn::buffer<2> >) was "
                  "written start/end-of-packet flags without qrn::usesPackets<true> and nonzero "
                  "empty counts without qrn::usesEmpty<true>; its hardware interface would drop "
                  "them"}))
        << result.err;
  }
}

}  // namespace
