#include "json_string.h"

#include <array>
#include <cstdio>

namespace qrn_runtime {
namespace {

// The UTF-8 sequence that starts at `at`, whose byte is >= 0x80.
struct utf8_sequence {
  std::size_t bytes = 1;  // its length; cut short: its longest well-formed beginning
  bool whole = false;     // complete and well formed (no overlong form, no surrogate)
};

utf8_sequence sequence_at(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) {
    return i < text.size() ? static_cast<unsigned char>(text[i]) : 0U;
  };
  const unsigned lead = byte(at);
  unsigned low = 0x80;  // range of the second byte
  unsigned high = 0xBF;
  std::size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : low;
    high = lead == 0xED ? 0x9F : high;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : low;
    high = lead == 0xF4 ? 0x8F : high;
  } else {
    return {};
  }
  utf8_sequence found;
  for (; found.bytes < length; ++found.bytes) {
    const unsigned next = byte(at + found.bytes);
    if (found.bytes == 1 ? next < low || next > high : next < 0x80 || next > 0xBF) {
      return found;
    }
  }
  found.whole = true;
  return found;
}

}  // namespace

std::string json_string(const std::string& text) {
  std::string quoted = "\"";
  for (std::size_t at = 0; at < text.size();) {
    const char c = text[at];
    if (static_cast<unsigned char>(c) >= 0x80) {
      const utf8_sequence sequence = sequence_at(text, at);
      quoted += sequence.whole ? text.substr(at, sequence.bytes) : std::string("\xEF\xBF\xBD");
      at += sequence.bytes;
      continue;
    }
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      std::array<char, 8> escaped{};
      std::snprintf(escaped.data(), escaped.size(), "\\u%04x", c);
      quoted += escaped.data();
    } else {
      quoted += c;
    }
    ++at;
  }
  return quoted + "\"";
}

}  // namespace qrn_runtime
