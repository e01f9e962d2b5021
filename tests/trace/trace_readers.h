// A reader of Value Change Dumps, strict enough to reject what the viewers
// would reject (declarations, scopes, identifier codes, strictly increasing
// times, values of declared variables only); it throws std::runtime_error
// naming the first fault. The JSON traces are read with nlohmann/json.
#ifndef QRN_TESTS_TRACE_TRACE_READERS_H
#define QRN_TESTS_TRACE_TRACE_READERS_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qrn_test {

// ---- Value Change Dump ---------------------------------------------------------

struct vcd_variable {
  std::string scope;  // the innermost scope, e.g. "streams"
  std::string type;   // "integer", "string", "wire"
  int width = 0;
  std::string code;
  std::string name;
};

struct vcd_change {
  std::uint64_t time;
  std::string value;  // integer: decimal; string: the text; wire: "0", "1", "x"
};

struct vcd_file {
  std::string timescale;  // as written, spaces removed ("1ns")
  std::vector<vcd_variable> variables;
  std::vector<std::string> comments;
  std::map<std::string, std::vector<vcd_change>> changes;  // by code; the initial value first
  std::uint64_t first_time = 0;
  std::uint64_t last_time = 0;

  // The variable called `name` in `scope`; throws when there is none.
  const vcd_variable& variable(const std::string& scope, const std::string& name) const;
  // The changes of that variable.
  const std::vector<vcd_change>& changes_of(const std::string& scope,
                                            const std::string& name) const;
  // The names of the variables in `scope`, in declaration order.
  std::vector<std::string> names_in(const std::string& scope) const;
};

vcd_file read_vcd(const std::string& text);

// The whole file at `path`.
std::string read_file(const std::string& path);

}  // namespace qrn_test

#endif  // QRN_TESTS_TRACE_TRACE_READERS_H
