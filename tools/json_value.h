// A small JSON reader: enough for the runtime's run reports (QRN_REPORT=PATH.json).
#ifndef QRN_TOOLS_JSON_VALUE_H
#define QRN_TOOLS_JSON_VALUE_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qrn_tools {

// One JSON value. A number keeps its text, so that whole numbers of any size
// read back exactly.
struct json_value {
  enum class kind { null, boolean, number, string, array, object };
  kind type = kind::null;
  bool boolean = false;
  std::string text;  // a string's value (UTF-8), or a number's text
  std::vector<json_value> items;
  std::map<std::string, json_value> members;

  // The member `key` of an object; nullptr when this is no object or has no such member.
  const json_value* find(const std::string& key) const;
  // A number that is a whole number >= 0 written without fraction or exponent.
  std::optional<std::uint64_t> whole() const;
};

// Parses `text`, a JSON document (whitespace around it allowed); none when it
// is not valid JSON.
std::optional<json_value> parse_json(const std::string& text);

}  // namespace qrn_tools

#endif  // QRN_TOOLS_JSON_VALUE_H
