// Names of the program's own objects and functions, found in its symbol
// tables.
#ifndef QRN_RUNTIME_SYMBOL_NAMES_H
#define QRN_RUNTIME_SYMBOL_NAMES_H

#include <cstddef>
#include <string>

namespace qrn_runtime {

// The demangled name of the variable that is exactly the `size` bytes at
// `address` (`in`, `dut::samples`), or empty when no symbol is.
std::string variable_name(const void* address, std::size_t size);

// The demangled name of `function` without return type and parameters
// (`doubler`, `dut::stage<3>`), or empty when no symbol names it.
std::string function_name(void (*function)());

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_SYMBOL_NAMES_H
