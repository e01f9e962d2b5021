// The tools' JSON, through nlohmann/json: text as a JSON string, and the
// whole numbers of the documents they read (run reports, JSON lines).
#ifndef QRN_TOOLS_JSON_TEXT_H
#define QRN_TOOLS_JSON_TEXT_H

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace qrn_tools {

// `text` as a JSON string, quotes included. Each byte that starts no valid
// UTF-8 sequence, and each sequence cut short, becomes U+FFFD, so that the
// result is always valid JSON.
inline std::string json_string(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The value at `pointer` (a JSON pointer, "/cycles/total") in `document` when
// it is a whole number >= 0 written without fraction or exponent that fits 64
// bits; none when there is no value there or it is something else.
inline std::optional<std::uint64_t> whole_at(const nlohmann::json& document,
                                             const std::string& pointer) {
  const nlohmann::json::json_pointer at(pointer);
  if (!document.contains(at) || !document.at(at).is_number_unsigned()) {
    return std::nullopt;
  }
  return document.at(at).get<std::uint64_t>();
}

}  // namespace qrn_tools

#endif  // QRN_TOOLS_JSON_TEXT_H
