#include "json_value.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace qrn_tools {
namespace {

constexpr int max_nesting = 64;

// Recursive descent over `text`; every parse_* leaves `at` past what it read
// and returns false on malformed input.
class reader {
 public:
  explicit reader(const std::string& text) : text_(text) {}

  bool document(json_value& value) {
    return parse_value(value, 0) && (skip_space(), at_ == text_.size());
  }

 private:
  void skip_space() {
    while (at_ < text_.size() && std::strchr(" \t\r\n", text_[at_]) != nullptr) {
      ++at_;
    }
  }

  bool take(char c) {
    skip_space();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }

  bool take_word(const char* word) {
    const std::size_t length = std::strlen(word);
    if (text_.compare(at_, length, word) != 0) {
      return false;
    }
    at_ += length;
    return true;
  }

  bool parse_value(json_value& value, int nesting) {
    skip_space();
    if (at_ == text_.size() || nesting > max_nesting) {
      return false;
    }
    switch (text_[at_]) {
      case '{':
        value.type = json_value::kind::object;
        return parse_object(value, nesting);
      case '[':
        value.type = json_value::kind::array;
        return parse_array(value, nesting);
      case '"':
        value.type = json_value::kind::string;
        return parse_string(value.text);
      case 't':
      case 'f':
        value.type = json_value::kind::boolean;
        value.boolean = text_[at_] == 't';
        return take_word(value.boolean ? "true" : "false");
      case 'n':
        return take_word("null");
      default:
        value.type = json_value::kind::number;
        return parse_number(value.text);
    }
  }

  bool parse_object(json_value& value, int nesting) {
    ++at_;
    if (take('}')) {
      return true;
    }
    do {
      std::string key;
      json_value member;
      skip_space();
      if (at_ == text_.size() || text_[at_] != '"' || !parse_string(key) || !take(':') ||
          !parse_value(member, nesting + 1)) {
        return false;
      }
      value.members[key] = std::move(member);
    } while (take(','));
    return take('}');
  }

  bool parse_array(json_value& value, int nesting) {
    ++at_;
    if (take(']')) {
      return true;
    }
    do {
      value.items.emplace_back();
      if (!parse_value(value.items.back(), nesting + 1)) {
        return false;
      }
    } while (take(','));
    return take(']');
  }

  bool parse_number(std::string& out) {
    const std::size_t start = at_;
    while (at_ < text_.size() && std::strchr("+-.0123456789eE", text_[at_]) != nullptr) {
      ++at_;
    }
    out = text_.substr(start, at_ - start);
    if (out.empty()) {
      return false;
    }
    char* end = nullptr;
    std::strtod(out.c_str(), &end);
    return *end == '\0';
  }

  // Four hex digits after "\u".
  bool hex4(unsigned& code) {
    if (at_ + 4 > text_.size()) {
      return false;
    }
    const std::string digits = text_.substr(at_, 4);
    char* end = nullptr;
    code = static_cast<unsigned>(std::strtoul(digits.c_str(), &end, 16));
    at_ += 4;
    return end == digits.c_str() + 4 && digits.find_first_of("+- ") == std::string::npos;
  }

  bool parse_escape(std::string& out) {
    const char c = text_[at_++];
    const char* plain = std::strchr("\"\\/bfnrt", c);
    if (plain != nullptr) {
      out += "\"\\/\b\f\n\r\t"[plain - "\"\\/bfnrt"];
      return true;
    }
    unsigned code = 0;
    if (c != 'u' || !hex4(code)) {
      return false;
    }
    if (code >= 0xD800 && code <= 0xDBFF) {  // a surrogate pair
      unsigned low = 0;
      if (!take_word("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF) {
        return false;
      }
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    append_utf8(out, code);
    return true;
  }

  static void append_utf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
      return;
    }
    const int continuation = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    const unsigned lead_mark = continuation == 1 ? 0xC0 : continuation == 2 ? 0xE0 : 0xF0;
    out += static_cast<char>(lead_mark | (code >> (6 * continuation)));
    for (int i = continuation - 1; i >= 0; --i) {
      out += static_cast<char>(0x80 | ((code >> (6 * i)) & 0x3F));
    }
  }

  bool parse_string(std::string& out) {
    ++at_;  // the opening quote
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') {
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20 ||
          (c == '\\' && (at_ == text_.size() || !parse_escape(out)))) {
        return false;
      }
      if (c != '\\') {
        out += c;
      }
    }
    return false;
  }

  const std::string& text_;
  std::size_t at_ = 0;
};

}  // namespace

const json_value* json_value::find(const std::string& key) const {
  const auto found = members.find(key);
  return type == kind::object && found != members.end() ? &found->second : nullptr;
}

std::optional<std::uint64_t> json_value::whole() const {
  if (type != kind::number || text.empty() ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0) {
    return std::nullopt;
  }
  return value;
}

std::optional<json_value> parse_json(const std::string& text) {
  json_value value;
  reader in(text);
  if (!in.document(value)) {
    return std::nullopt;
  }
  return value;
}

}  // namespace qrn_tools
