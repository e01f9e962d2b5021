#include "declaration_names.h"

#include <cctype>
#include <fstream>
#include <vector>

namespace qrn_runtime {

namespace {

bool is_identifier_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// Line `number` (from 1) of the file at `path`; false when it cannot be read.
bool source_line(const char* path, int number, std::string& line) {
  std::ifstream file(path);
  for (int at = 1; at <= number; ++at) {
    if (!std::getline(file, line)) {
      return false;
    }
  }
  return true;
}

// True when `type` (the text before the identifier) spells a stream type and
// nothing else: no keyword that makes the line a class head or a statement.
bool is_stream_type(const std::string& type) {
  if (type.find("stream_in") == std::string::npos && type.find("stream_out") == std::string::npos &&
      type.find("stream<") == std::string::npos) {
    return false;
  }
  std::string word;
  for (std::size_t i = 0; i <= type.size(); ++i) {
    const char c = i < type.size() ? type[i] : ' ';
    if (is_identifier_char(c)) {
      word += c;
      continue;
    }
    if (word == "struct" || word == "class" || word == "union" || word == "using" ||
        word == "typedef" || word == "return" || word == "template" || word == "friend") {
      return false;
    }
    word.clear();
    if (c != ' ' && c != '\t' && c != ':' && c != '<' && c != '>' && c != ',') {
      return false;
    }
  }
  return true;
}

// One declarator of a declaration line: the identifier, where it begins
// (from 0) and where the declarator ends (at its ',' or ';').
struct declarator {
  std::string identifier;
  std::size_t begin;
  std::size_t end;
  bool array;  // has extents: `lanes[4]`
};

// The index just past the bracketed text that opens at `at` (`[...]`,
// `{...}`), or npos when it does not close on this line.
std::size_t past_brackets(const std::string& code, std::size_t at) {
  int depth = 0;
  for (std::size_t i = at; i < code.size(); ++i) {
    depth += code[i] == '[' || code[i] == '{' || code[i] == '(' ? 1 : 0;
    depth -= code[i] == ']' || code[i] == '}' || code[i] == ')' ? 1 : 0;
    if (depth == 0) {
      return i + 1;
    }
  }
  return std::string::npos;
}

std::size_t skip_blanks(const std::string& code, std::size_t at) {
  while (at < code.size() && (code[at] == ' ' || code[at] == '\t')) {
    ++at;
  }
  return at;
}

// The declarators after the stream type that `code` begins with, the first
// of which ends at `first_end`: each one an identifier, extents (`[4]`) and
// an initialiser in braces, separated by ',' and ended by ';'. Empty when the
// rest of the line is not such a list.
std::vector<declarator> declarator_list(const std::string& code, std::size_t first_begin,
                                        std::size_t first_end) {
  std::vector<declarator> found;
  std::size_t begin = first_begin;
  std::size_t at = first_end;
  for (;;) {
    declarator current{code.substr(begin, at - begin), begin, 0, false};
    at = skip_blanks(code, at);
    while (at < code.size() && code[at] == '[') {
      current.array = true;
      at = skip_blanks(code, past_brackets(code, at));
    }
    if (at < code.size() && code[at] == '{') {
      at = skip_blanks(code, past_brackets(code, at));
    }
    if (at >= code.size() || (code[at] != ',' && code[at] != ';')) {
      return {};
    }
    current.end = at;
    found.push_back(current);
    if (code[at] == ';') {
      return found;
    }
    begin = skip_blanks(code, at + 1);
    at = begin;
    while (at < code.size() && is_identifier_char(code[at])) {
      ++at;
    }
    if (at == begin || std::isdigit(static_cast<unsigned char>(code[begin])) != 0) {
      return {};
    }
  }
}

// The streams that `line` plainly declares, in order, or none when it is not
// plainly the declaration of streams. A line that begins like the declaration
// of one stream (`qrn::stream<int> s;`, `... s{`, `... s[4] = ...`) gives
// that one when the rest does not read as a list of declarators.
std::vector<declarator> declared_streams(const std::string& line) {
  const std::string code = line.substr(0, line.find("//"));
  int angle_depth = 0;
  std::size_t end = 0;
  for (; end < code.size(); ++end) {
    const char c = code[end];
    angle_depth += c == '<' ? 1 : c == '>' ? -1 : 0;
    if (angle_depth == 0 && (c == ';' || c == '{' || c == '[' || c == '(' || c == '=' || c == ',' ||
                             c == '}' || c == ')')) {
      break;
    }
  }
  if (end == code.size() ||
      (code[end] != ';' && code[end] != '{' && code[end] != '[' && code[end] != ',')) {
    return {};
  }
  std::size_t name_end = end;
  while (name_end > 0 && (code[name_end - 1] == ' ' || code[name_end - 1] == '\t')) {
    --name_end;
  }
  std::size_t name_begin = name_end;
  while (name_begin > 0 && is_identifier_char(code[name_begin - 1])) {
    --name_begin;
  }
  if (name_begin == name_end || std::isdigit(static_cast<unsigned char>(code[name_begin])) != 0 ||
      name_begin == 0 || !is_stream_type(code.substr(0, name_begin))) {
    return {};
  }
  const char before = code[name_begin - 1];
  if (before != ' ' && before != '\t' && before != '>') {
    return {};
  }
  std::vector<declarator> declared = declarator_list(code, name_begin, name_end);
  if (declared.empty() && code[end] != ',') {  // one declarator, whatever follows it
    declared.push_back(declarator{code.substr(name_begin, name_end - name_begin), name_begin,
                                  code.size(), code[end] == '['});
  }
  return declared;
}

// The identifier of the stream constructed at `site` among `declared`: the
// only one, the one at the site's column, or else the one whose turn it is
// by `ordinal` (see site_ordinal()) when no declarator is an array. Empty
// when it cannot be told.
std::string chosen_identifier(const std::vector<declarator>& declared,
                              const qrn::internal::declaration_site& site, unsigned int ordinal) {
  if (declared.size() <= 1) {
    return declared.empty() ? std::string() : declared.front().identifier;
  }
  if (site.column > 0) {
    const auto at = static_cast<std::size_t>(site.column - 1);
    for (const declarator& d : declared) {
      if (d.begin <= at && at < d.end) {
        return d.identifier;
      }
    }
    return {};
  }
  for (const declarator& d : declared) {
    if (d.array) {
      return {};
    }
  }
  return declared[ordinal % declared.size()].identifier;
}

// The numbers of the extents that begin at `at` in `code` (`[4][16]`); empty
// when one of them is not a plain number.
std::vector<std::size_t> extents_at(const std::string& code, std::size_t at) {
  std::vector<std::size_t> extents;
  for (at = skip_blanks(code, at); at < code.size() && code[at] == '[';) {
    const std::size_t close = code.find(']', at);
    const std::size_t digits = skip_blanks(code, at + 1);
    std::size_t end = digits;
    while (end < code.size() && std::isdigit(static_cast<unsigned char>(code[end])) != 0) {
      ++end;
    }
    if (close == std::string::npos || end == digits || skip_blanks(code, end) != close) {
      return {};
    }
    extents.push_back(std::stoul(code.substr(digits, end - digits)));
    at = skip_blanks(code, close + 1);
  }
  return extents;
}

}  // namespace

declared_shape declared_shape_at(const qrn::internal::declaration_site& site,
                                 const std::string& identifier) {
  declared_shape shape;
  std::string line;
  if (site.file == nullptr || site.line <= 0 || !source_line(site.file, site.line, line)) {
    return shape;
  }
  shape.read = true;
  const std::string code = line.substr(0, line.find("//"));
  for (const declarator& d : declared_streams(line)) {
    if (d.array && d.identifier == identifier) {
      shape.array = true;
      shape.extents = extents_at(code, d.begin + d.identifier.size());
    }
  }
  return shape;
}

std::string declaration_name(const qrn::internal::declaration_site& site, unsigned int ordinal) {
  if (site.file == nullptr || site.line <= 0) {
    return {};
  }
  const std::string path(site.file);
  std::string where = path.substr(path.find_last_of('/') + 1) + ":" + std::to_string(site.line);
  std::string line;
  if (!source_line(site.file, site.line, line)) {
    return where;
  }
  const std::string identifier = chosen_identifier(declared_streams(line), site, ordinal);
  return identifier.empty() ? where : identifier + " (" + where + ")";
}

}  // namespace qrn_runtime
