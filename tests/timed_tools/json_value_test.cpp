// The JSON reader of the tools (tools/json_value.h), on what run reports hold
// and on malformed input.
#include "json_value.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using qrn_tools::json_value;
using qrn_tools::parse_json;

TEST(JsonValue, ReadsAReportsShapes) {
  const auto value = parse_json(
      " {\"streams\": [{\"name\": \"a \\\"q\\\" \\\\ \\u0001\\u00e9\\ud83d\\ude00\", "
      "\"depth\": null, \"busy\": false, \"destroyed\": true, \"average\": 1.5e-3}, []],\n"
      "  \"total\": 18446744073709551615, \"big\": 18446744073709551616, \"neg\": -1} ");
  ASSERT_TRUE(value);
  const json_value& stream = value->find("streams")->items.at(0);
  EXPECT_EQ(stream.find("name")->text, "a \"q\" \\ \x01\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(stream.find("depth")->type, json_value::kind::null);
  EXPECT_FALSE(stream.find("depth")->whole());
  EXPECT_FALSE(stream.find("busy")->boolean);
  EXPECT_TRUE(stream.find("destroyed")->boolean);
  EXPECT_FALSE(stream.find("average")->whole());
  EXPECT_EQ(stream.find("missing"), nullptr);
  EXPECT_EQ(stream.find("name")->find("name"), nullptr);  // not an object
  EXPECT_EQ(value->find("streams")->items.at(1).type, json_value::kind::array);
  EXPECT_EQ(value->find("total")->whole(), 18446744073709551615ULL);
  EXPECT_FALSE(value->find("big")->whole());
  EXPECT_FALSE(value->find("neg")->whole());
}

TEST(JsonValue, RejectsMalformedDocuments) {
  for (const std::string& text : std::vector<std::string>{
           "", "{", "{\"a\" 1}", "{\"a\": 1,}", "[1 2]", "[1] x", "\"tab\there\"", "\"\\x\"",
           "\"\\u12\"", "\"\\ud83d\"", "nul", "{1: 2}", "-", "1.2.3", "\"open",
           std::string(100, '[') + std::string(100, ']')}) {
    EXPECT_FALSE(parse_json(text)) << text;
  }
}

}  // namespace
