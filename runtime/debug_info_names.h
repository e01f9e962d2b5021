// Names of the parts of the program's global variables, read from its debug
// information (DWARF, through elfutils' libdw when the runtime was built with
// it).
#ifndef QRN_RUNTIME_DEBUG_INFO_NAMES_H
#define QRN_RUNTIME_DEBUG_INFO_NAMES_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace qrn_runtime {

// The part of the global variable at link-time address `variable` (its
// symbol's value) that the object of `size` bytes at `offset` in it is, as
// written after the variable's name: `.samples`, `.stage.samples`, `[2]`,
// `[1][0]`, `.lanes[3]`. Empty when the program has no debug information
// for the variable, the runtime was built without libdw, or no member or
// element of that size starts there. Thread-safe.
std::string part_of_variable(std::uintptr_t variable, std::size_t offset, std::size_t size);

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_DEBUG_INFO_NAMES_H
