#include "declaration_names.h"

#include <cctype>
#include <fstream>

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

// The identifier that `line` declares as a stream, or empty when the line
// is not plainly the declaration of one stream.
std::string declared_stream_identifier(const std::string& line) {
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
  if (end == code.size() || (code[end] != ';' && code[end] != '{' && code[end] != '[')) {
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
  return code.substr(name_begin, name_end - name_begin);
}

}  // namespace

std::string declaration_name(const qrn::internal::declaration_site& site) {
  if (site.file == nullptr || site.line <= 0) {
    return {};
  }
  const std::string path(site.file);
  std::string where = path.substr(path.find_last_of('/') + 1) + ":" + std::to_string(site.line);
  std::string line;
  if (!source_line(site.file, site.line, line)) {
    return where;
  }
  const std::string identifier = declared_stream_identifier(line);
  return identifier.empty() ? where : identifier + " (" + where + ")";
}

}  // namespace qrn_runtime
