// The program's DWARF is opened once, on the first question, and kept for the
// life of the process with an index from each global variable's address to
// its entry. libdw reads lazily and is not thread-safe on one handle, so
// every question holds `dwarf_mutex`.
#include "debug_info_names.h"

#if QRN_RUNTIME_HAVE_LIBDW

#include <dwarf.h>
#include <elfutils/libdw.h>
#include <fcntl.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <vector>

namespace qrn_runtime {

namespace {

// Nested types deeper than this are not searched (they do not occur in
// practice; the bound keeps a malformed entry from recursing for ever).
constexpr int deepest_part = 32;

struct program_dwarf {
  Dwarf* dwarf = nullptr;
  std::map<Dwarf_Addr, Dwarf_Off> variables;  // link-time address -> offset of its entry
};

// The address of a variable entry located by one DW_OP_addr, or by one
// DW_OP_addrx (DWARF 5, as clang writes it: an index into .debug_addr).
bool static_address(Dwarf_Die& variable, Dwarf_Addr& address) {
  Dwarf_Attribute location;
  Dwarf_Op* ops = nullptr;
  std::size_t count = 0;
  if (dwarf_attr(&variable, DW_AT_location, &location) == nullptr ||
      dwarf_getlocation(&location, &ops, &count) != 0 || count != 1) {
    return false;
  }
  if (ops[0].atom == DW_OP_addr) {
    address = ops[0].number;
    return true;
  }
  Dwarf_Attribute indexed;
  return (ops[0].atom == DW_OP_addrx || ops[0].atom == DW_OP_GNU_addr_index) &&
         dwarf_getlocation_attr(&location, ops, &indexed) == 0 &&
         dwarf_formaddr(&indexed, &address) == 0;
}

// Indexes the variables with a static address among `scope`'s children and,
// recursively, in its namespaces, functions and blocks (static locals).
void index_variables(Dwarf_Die& scope, std::map<Dwarf_Addr, Dwarf_Off>& into) {
  Dwarf_Die child;
  if (dwarf_child(&scope, &child) != 0) {
    return;
  }
  do {
    Dwarf_Addr address = 0;
    const int tag = dwarf_tag(&child);
    if (tag == DW_TAG_namespace || tag == DW_TAG_subprogram || tag == DW_TAG_lexical_block) {
      index_variables(child, into);
    } else if (tag == DW_TAG_variable && static_address(child, address)) {
      into.emplace(address, dwarf_dieoffset(&child));
    }
  } while (dwarf_siblingof(&child, &child) == 0);
}

std::mutex dwarf_mutex;

// Requires dwarf_mutex. Empty (null handle) when the program cannot be read
// or has no debug information.
const program_dwarf& dwarf_of_program() {
  static const program_dwarf* const loaded = [] {
    auto* program = new program_dwarf;  // never destroyed: names are asked for at exit
    const int fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      return program;
    }
    program->dwarf = dwarf_begin(fd, DWARF_C_READ);  // keeps `fd` open while it lives
    if (program->dwarf == nullptr) {
      ::close(fd);
      return program;
    }
    Dwarf_CU* unit = nullptr;
    Dwarf_Die unit_die;
    while (dwarf_get_units(program->dwarf, unit, &unit, nullptr, nullptr, &unit_die, nullptr) ==
           0) {
      index_variables(unit_die, program->variables);
    }
    return program;
  }();
  return *loaded;
}

// The type of `die` without typedefs and qualifiers, and its size in bytes.
bool sized_type_of(Dwarf_Die& die, Dwarf_Die& type, Dwarf_Word& size) {
  Dwarf_Attribute attribute;
  return dwarf_attr_integrate(&die, DW_AT_type, &attribute) != nullptr &&
         dwarf_formref_die(&attribute, &type) != nullptr && dwarf_peel_type(&type, &type) == 0 &&
         dwarf_aggregate_size(&type, &size) == 0;
}

bool part_within(Dwarf_Die& type, std::size_t offset, std::size_t size, int depth,
                 std::string& part);

// A member or base of the class `type` that holds `offset` and, within it,
// the object sought.
bool member_part(Dwarf_Die& type, std::size_t offset, std::size_t size, int depth,
                 std::string& part) {
  Dwarf_Die child;
  if (dwarf_child(&type, &child) != 0) {
    return false;
  }
  do {
    const int tag = dwarf_tag(&child);
    Dwarf_Attribute location;
    Dwarf_Word at = 0;
    Dwarf_Die member_type;
    Dwarf_Word member_size = 0;
    if ((tag != DW_TAG_member && tag != DW_TAG_inheritance) ||
        dwarf_attr(&child, DW_AT_data_member_location, &location) == nullptr ||
        dwarf_formudata(&location, &at) != 0 || offset < at ||
        !sized_type_of(child, member_type, member_size) || offset - at >= member_size) {
      continue;  // static members have no location
    }
    const char* name = tag == DW_TAG_member ? dwarf_diename(&child) : nullptr;
    std::string inner = name != nullptr ? std::string(".") + name : std::string();
    if (part_within(member_type, offset - at, size, depth + 1, inner)) {
      part += inner;
      return true;
    }
  } while (dwarf_siblingof(&child, &child) == 0);
  return false;
}

// The element of the array `type` that holds `offset` (one index per
// dimension) and, within it, the object sought.
bool element_part(Dwarf_Die& type, std::size_t offset, std::size_t size, int depth,
                  std::string& part) {
  Dwarf_Die element;
  Dwarf_Word element_size = 0;
  Dwarf_Die child;
  if (!sized_type_of(type, element, element_size) || element_size == 0 ||
      dwarf_child(&type, &child) != 0) {
    return false;
  }
  std::vector<Dwarf_Word> extents;
  Dwarf_Word stride = element_size;
  do {
    if (dwarf_tag(&child) != DW_TAG_subrange_type) {
      continue;
    }
    Dwarf_Attribute bound;
    Dwarf_Word extent = 0;
    if (dwarf_attr(&child, DW_AT_count, &bound) != nullptr) {
      if (dwarf_formudata(&bound, &extent) != 0) {
        return false;
      }
    } else if (dwarf_attr(&child, DW_AT_upper_bound, &bound) == nullptr ||
               dwarf_formudata(&bound, &extent) != 0) {
      return false;
    } else {
      ++extent;
    }
    if (extent == 0) {
      return false;
    }
    extents.push_back(extent);
    stride *= extent;
  } while (dwarf_siblingof(&child, &child) == 0);
  std::string indices;
  std::size_t within = offset;
  for (const Dwarf_Word extent : extents) {
    stride /= extent;
    indices += "[" + std::to_string(within / stride) + "]";
    within %= stride;
  }
  if (extents.empty() || !part_within(element, within, size, depth + 1, indices)) {
    return false;
  }
  part += indices;
  return true;
}

// Appends to `part` the path from an object of `type` to the object of
// `size` bytes at `offset` in it: the innermost member or element that
// starts there with that size, or the object itself.
bool part_within(Dwarf_Die& type, std::size_t offset, std::size_t size, int depth,
                 std::string& part) {
  Dwarf_Word type_size = 0;
  if (depth > deepest_part || dwarf_aggregate_size(&type, &type_size) != 0) {
    return false;
  }
  std::string inner;
  const int tag = dwarf_tag(&type);
  const bool inside = tag == DW_TAG_array_type
                          ? element_part(type, offset, size, depth, inner)
                          : (tag == DW_TAG_structure_type || tag == DW_TAG_class_type ||
                             tag == DW_TAG_union_type) &&
                                member_part(type, offset, size, depth, inner);
  if (inside) {
    part += inner;
    return true;
  }
  return offset == 0 && type_size == size;
}

}  // namespace

std::string part_of_variable(std::uintptr_t variable, std::size_t offset, std::size_t size) {
  std::lock_guard<std::mutex> lock(dwarf_mutex);
  const program_dwarf& program = dwarf_of_program();
  const auto entry = program.variables.find(variable);
  Dwarf_Die die;
  Dwarf_Die type;
  Dwarf_Word type_size = 0;
  std::string part;
  if (entry == program.variables.end() ||
      dwarf_offdie(program.dwarf, entry->second, &die) == nullptr ||
      !sized_type_of(die, type, type_size) || offset >= type_size ||
      !part_within(type, offset, size, 0, part)) {
    return {};
  }
  return part;
}

}  // namespace qrn_runtime

#else  // without libdw: no debug information is read

namespace qrn_runtime {

std::string part_of_variable(std::uintptr_t, std::size_t, std::size_t) { return {}; }

}  // namespace qrn_runtime

#endif
