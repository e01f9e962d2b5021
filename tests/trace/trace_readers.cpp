#include "trace/trace_readers.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace qrn_test {

namespace {

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

// Reads whitespace-separated tokens.
class tokens {
 public:
  explicit tokens(const std::string& text) : in_(text) {}
  bool next(std::string& token) { return static_cast<bool>(in_ >> token); }
  std::string expect() {
    std::string token;
    if (!next(token)) {
      fail("VCD: unexpected end of file");
    }
    return token;
  }
  // The tokens up to `$end`, joined by single spaces.
  std::string until_end() {
    std::string joined;
    for (std::string token = expect(); token != "$end"; token = expect()) {
      joined += (joined.empty() ? "" : " ") + token;
    }
    return joined;
  }

 private:
  std::istringstream in_;
};

bool valid_code(const std::string& code) {
  if (code.empty()) {
    return false;
  }
  for (const char c : code) {
    if (c < 33 || c > 126) {
      return false;
    }
  }
  return true;
}

std::string decimal_of_bits(const std::string& bits) {
  if (bits.find_first_not_of("01") != std::string::npos) {
    return bits;  // x or z bits: kept as written
  }
  std::uint64_t value = 0;
  for (const char bit : bits) {
    value = value * 2 + static_cast<std::uint64_t>(bit - '0');
  }
  return std::to_string(value);
}

}  // namespace

const vcd_variable& vcd_file::variable(const std::string& scope, const std::string& name) const {
  for (const vcd_variable& v : variables) {
    if (v.scope == scope && v.name == name) {
      return v;
    }
  }
  fail("VCD: no variable " + scope + "." + name);
}

const std::vector<vcd_change>& vcd_file::changes_of(const std::string& scope,
                                                    const std::string& name) const {
  static const std::vector<vcd_change> none;
  const auto found = changes.find(variable(scope, name).code);
  return found == changes.end() ? none : found->second;
}

std::vector<std::string> vcd_file::names_in(const std::string& scope) const {
  std::vector<std::string> names;
  for (const vcd_variable& v : variables) {
    if (v.scope == scope) {
      names.push_back(v.name);
    }
  }
  return names;
}

vcd_file read_vcd(const std::string& text) {
  vcd_file file;
  tokens in(text);
  std::vector<std::string> scopes;
  std::set<std::string> codes;
  std::map<std::string, const vcd_variable*> by_code;
  std::string token;
  bool definitions_ended = false;
  while (!definitions_ended) {
    token = in.expect();
    if (token == "$timescale") {
      const std::string scale = in.until_end();
      for (const char c : scale) {
        if (c != ' ') {
          file.timescale += c;
        }
      }
    } else if (token == "$comment") {
      file.comments.push_back(in.until_end());
    } else if (token == "$date" || token == "$version") {
      in.until_end();
    } else if (token == "$scope") {
      in.expect();  // module
      scopes.push_back(in.expect());
      if (in.expect() != "$end") {
        fail("VCD: $scope without $end");
      }
    } else if (token == "$upscope") {
      if (scopes.empty() || in.expect() != "$end") {
        fail("VCD: unbalanced $upscope");
      }
      scopes.pop_back();
    } else if (token == "$var") {
      if (scopes.empty()) {
        fail("VCD: $var outside a scope");
      }
      vcd_variable v;
      v.scope = scopes.back();
      v.type = in.expect();
      v.width = std::atoi(in.expect().c_str());
      v.code = in.expect();
      v.name = in.expect();
      std::string rest = in.until_end();
      if (!rest.empty() && rest[0] != '[') {
        fail("VCD: name with a space: " + v.name + " " + rest);
      }
      if (!valid_code(v.code) || !codes.insert(v.code).second) {
        fail("VCD: bad or repeated identifier code " + v.code);
      }
      file.variables.push_back(v);
    } else if (token == "$enddefinitions") {
      if (!scopes.empty() || in.expect() != "$end") {
        fail("VCD: $enddefinitions inside a scope");
      }
      definitions_ended = true;
    } else {
      fail("VCD: unexpected declaration " + token);
    }
  }
  if (file.variables.empty()) {
    fail("VCD: no variables");
  }
  for (const vcd_variable& v : file.variables) {
    by_code[v.code] = &v;
  }
  bool timed = false;
  std::uint64_t now = 0;
  const auto record = [&](const std::string& code, const std::string& value) {
    const auto found = by_code.find(code);
    if (found == by_code.end()) {
      fail("VCD: value for undeclared code " + code);
    }
    if (!timed) {
      fail("VCD: value before the first time");
    }
    std::vector<vcd_change>& list = file.changes[code];
    if (!list.empty() && list.back().time == now) {
      fail("VCD: two values of " + found->second->name + " at " + std::to_string(now));
    }
    list.push_back({now, value});
  };
  while (in.next(token)) {
    if (token[0] == '#') {
      const std::uint64_t time = std::strtoull(token.c_str() + 1, nullptr, 10);
      if (token.size() < 2 || token.find_first_not_of("0123456789", 1) != std::string::npos) {
        fail("VCD: bad time " + token);
      }
      if (timed && time <= now) {
        fail("VCD: time " + token + " does not increase");
      }
      if (!timed) {
        file.first_time = time;
      }
      timed = true;
      now = time;
      file.last_time = time;
    } else if (token == "$dumpvars" || token == "$end" || token == "$dumpall" ||
               token == "$dumpon" || token == "$dumpoff") {
    } else if (token == "$comment") {
      file.comments.push_back(in.until_end());
    } else if (token[0] == 'b' || token[0] == 'B') {
      record(in.expect(), decimal_of_bits(token.substr(1)));
    } else if (token[0] == 's' || token[0] == 'S' || token[0] == 'r' || token[0] == 'R') {
      record(in.expect(), token.substr(1));
    } else if (std::string("01xXzZ").find(token[0]) != std::string::npos && token.size() > 1) {
      record(token.substr(1), token.substr(0, 1));
    } else {
      fail("VCD: unexpected " + token);
    }
  }
  return file;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace qrn_test
