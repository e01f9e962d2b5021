// Names of the program's own objects and functions, found in its symbol
// tables.
#ifndef QRN_RUNTIME_SYMBOL_NAMES_H
#define QRN_RUNTIME_SYMBOL_NAMES_H

#include <cstddef>
#include <functional>
#include <string>

#include "HLS/internal/declaration_site.h"

namespace qrn_runtime {

// The name of the object of `size` bytes at `address` as the program's
// symbols give it: a whole variable (`in`, `dut::samples`, a function's
// static local `dsp::stage<3>::buf`; see shown_variable_name), an element of an
// array (`lanes[2]`; `grid[1][0]` with debug information) or, with debug
// information, a member of a variable (`fe.samples`, `fe.stage.samples`).
// Without debug information an array is told from another variable that
// holds such objects by `same_kind`, asked for every element, and by the
// line at `site`, where the object was made: an element of an array is made
// where the array is declared, which gives its extents (`link_[3][15]`); a
// member of a class, at the class head. Empty when no symbol names it (a
// member without debug information). Not thread-safe: callers serialise
// their calls.
std::string variable_name(const void* address, std::size_t size,
                          const std::function<bool(const void*)>& same_kind,
                          const qrn::internal::declaration_site& site);

// True when `address` lies in the program or a shared library it loaded
// (its static storage), not on a stack or the heap. Thread-safe.
bool has_static_storage(const void* address);

// The demangled name of `function` without return type and parameters
// (`doubler`, `dut::stage<3>`), or empty when no symbol names it.
std::string function_name(void (*function)());

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_SYMBOL_NAMES_H
