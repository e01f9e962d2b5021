// Display names for diagnostics: the name of a component function as the
// compiler spells it, demangled type names, and a one-line description of the
// exception being handled.
//
// All functions here are thread-safe and allocate only when called; none is
// on a stream's hot path.
#ifndef QRN_HLS_INTERNAL_NAMES_H
#define QRN_HLS_INTERNAL_NAMES_H

#include <cxxabi.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <string>
#include <typeinfo>

namespace qrn {
namespace internal {

// The signature of this instantiation, which spells `f` as the compiler
// knows it (`doubler`, `dut::stage<3>`), whatever its linkage. GCC writes
// "... [with void (& f)() = NAME]", Clang "... [f = NAME]": the name follows
// the first " = " after the '['.
template <void (&f)()>
const char* component_signature() {
  return __PRETTY_FUNCTION__;
}

// The component name inside a signature of component_signature(), or the
// whole signature when it has an unexpected shape. An anonymous namespace
// is left out, as the names found from symbols leave it out.
inline std::string component_name_from_signature(const char* signature) {
  const char* arguments = std::strchr(signature, '[');
  const char* marker = arguments != nullptr ? std::strstr(arguments, " = ") : nullptr;
  const std::size_t length = std::strlen(signature);
  if (marker == nullptr || signature[length - 1] != ']') {
    return signature;
  }
  std::string name(marker + std::strlen(" = "), signature + length - 1);
  for (const char* anonymous : {"{anonymous}::", "(anonymous namespace)::"}) {
    for (std::size_t at = name.find(anonymous); at != std::string::npos;
         at = name.find(anonymous)) {
      name.erase(at, std::strlen(anonymous));
    }
  }
  return name;
}

// `mangled` demangled, or unchanged when it is no mangled C++ name.
inline std::string demangled(const char* mangled) {
  int status = 0;
  char* plain = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  if (status != 0 || plain == nullptr) {
    return mangled;
  }
  std::string name(plain);
  std::free(plain);
  return name;
}

// "TYPE" or "TYPE: WHAT" for the exception being handled; call only inside
// a catch block.
inline std::string describe_current_exception() {
  const std::type_info* type = abi::__cxa_current_exception_type();
  std::string text = type != nullptr ? demangled(type->name()) : "unknown type";
  try {
    throw;
  } catch (const std::exception& error) {
    text += ": ";
    text += error.what();
  } catch (...) {
  }
  return text;
}

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_NAMES_H
