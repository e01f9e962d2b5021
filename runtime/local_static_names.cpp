#include "local_static_names.h"

#include <vector>

namespace qrn_runtime {

namespace {

// The parts of `name` between top-level "::" (outside every bracket pair);
// false when its brackets do not balance.
bool split_scopes(const std::string& name, std::vector<std::string>& scopes) {
  int depth = 0;
  std::size_t begin = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (name.compare(i, 10, "operator()") == 0) {  // its brackets are part of the name
      i += 9;
      continue;
    }
    depth += c == '<' || c == '(' || c == '[' || c == '{' ? 1 : 0;
    depth -= c == '>' || c == ')' || c == ']' || c == '}' ? 1 : 0;
    if (depth < 0) {
      return false;
    }
    if (depth == 0 && name.compare(i, 2, "::") == 0) {
      scopes.push_back(name.substr(begin, i - begin));
      begin = i + 2;
      ++i;
    }
  }
  scopes.push_back(name.substr(begin));
  return depth == 0;
}

// `scope` without its parameter list and what follows it (`const`, `&`);
// `scope` itself when it is no function.
std::string without_parameters(const std::string& scope) {
  const std::size_t name_end = scope.compare(0, 10, "operator()") == 0 ? 10 : 0;
  int depth = 0;
  for (std::size_t i = name_end; i < scope.size(); ++i) {
    const char c = scope[i];
    if (c == '(' && depth == 0 && i > 0) {
      return scope.substr(0, i);
    }
    depth += c == '<' || c == '[' || c == '{' || c == '(' ? 1 : 0;
    depth -= c == '>' || c == ']' || c == '}' || c == ')' ? 1 : 0;
  }
  return scope;
}

}  // namespace

std::string short_local_static_name(const std::string& name) {
  std::vector<std::string> scopes;
  if (!split_scopes(name, scopes) || scopes.size() < 2) {
    return name;
  }
  std::string shortened;
  for (std::size_t i = 0; i < scopes.size(); ++i) {
    const std::string scope = i + 1 < scopes.size() ? without_parameters(scopes[i]) : scopes[i];
    if (scope == "operator()" && i > 0 && scopes[i - 1].compare(0, 8, "{lambda(") == 0) {
      continue;  // a lambda's call operator: the lambda names it
    }
    shortened += (shortened.empty() ? "" : "::") + scope;
  }
  return shortened;
}

}  // namespace qrn_runtime
