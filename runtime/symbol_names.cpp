// Names from the program's own symbol table (.symtab of /proc/self/exe, which
// also holds internal-linkage objects and functions, unless the program was
// stripped), and else from the dynamic symbol table (dladdr), which covers
// exported symbols of shared libraries too. The part of a variable that an
// object inside it is (`[2]`, `.samples`) comes from the program's debug
// information where there is some (debug_info_names.h), else, for arrays,
// from the sizes alone.
#include "symbol_names.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>

#include "HLS/internal/names.h"
#include "debug_info_names.h"
#include "declaration_names.h"
#include "local_static_names.h"

namespace qrn_runtime {

namespace {

struct symbol {
  std::uintptr_t start;         // where the symbol's object begins in memory
  std::uintptr_t link_address;  // the same, as the program file gives it (no load bias)
  std::size_t size;
  std::string mangled;
};

// The load address of the main program (zero unless it is position independent).
ElfW(Addr) program_load_bias() {
  ElfW(Addr) bias = 0;
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) {
        *static_cast<ElfW(Addr)*>(data) = info->dlpi_addr;
        return 1;  // the first entry is the main program
      },
      &bias);
  return bias;
}

// The program's file, mapped read-only for the life of the process; empty
// when it cannot be read.
struct program_image {
  const char* data = nullptr;
  std::size_t size = 0;
};

const program_image& program_file() {
  static const program_image image = [] {
    program_image mapped;
    const int fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (fd >= 0 && ::fstat(fd, &status) == 0 && status.st_size > 0) {
      void* data =
          ::mmap(nullptr, static_cast<std::size_t>(status.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
      if (data != MAP_FAILED) {
        mapped.data = static_cast<const char*>(data);
        mapped.size = static_cast<std::size_t>(status.st_size);
      }
    }
    if (fd >= 0) {
      ::close(fd);
    }
    return mapped;
  }();
  return image;
}

using elf_symbol = ElfW(Sym);
using symbol_visitor = std::function<bool(const elf_symbol&, const char* name, std::size_t length)>;

// Calls `visit` with each entry of the program's .symtab and its name (not
// null-terminated when the file is cut short), until it returns true; false
// when none did.
bool find_program_symbol(const symbol_visitor& visit) {
  const program_image& image = program_file();
  ElfW(Ehdr) header{};
  if (image.size < sizeof header || std::memcmp(image.data, ELFMAG, SELFMAG) != 0) {
    return false;
  }
  std::memcpy(&header, image.data, sizeof header);
  const auto section = [&](std::size_t index) {
    ElfW(Shdr) entry{};
    const std::size_t at = header.e_shoff + index * sizeof(ElfW(Shdr));
    if (at + sizeof entry <= image.size) {
      std::memcpy(&entry, image.data + at, sizeof entry);
    }
    return entry;
  };
  for (std::size_t i = 0; i < header.e_shnum; ++i) {
    const ElfW(Shdr) table = section(i);
    if (table.sh_type != SHT_SYMTAB || table.sh_link >= header.e_shnum) {
      continue;
    }
    const ElfW(Shdr) strings = section(table.sh_link);
    const std::size_t end = std::min<std::size_t>(table.sh_offset + table.sh_size, image.size);
    for (std::size_t at = table.sh_offset; at + sizeof(ElfW(Sym)) <= end; at += sizeof(ElfW(Sym))) {
      ElfW(Sym) entry{};
      std::memcpy(&entry, image.data + at, sizeof entry);
      const std::size_t name_at = strings.sh_offset + entry.st_name;
      if (entry.st_value == 0 || name_at >= image.size) {
        continue;
      }
      const char* name = image.data + name_at;
      if (visit(entry, name, strnlen(name, image.size - name_at))) {
        return true;
      }
    }
  }
  return false;
}

// Looks up `address` in the program's .symtab: a function or object that
// starts there, or with `within`, an object that holds it.
bool program_symbol_at(std::uintptr_t address, bool within, symbol& found) {
  static const ElfW(Addr) bias = program_load_bias();
  return find_program_symbol([&](const elf_symbol& entry, const char* name, std::size_t length) {
    const int type = ELF64_ST_TYPE(entry.st_info);
    const std::uintptr_t start = bias + entry.st_value;
    const bool holds =
        within ? type == STT_OBJECT && start <= address && address - start < entry.st_size
               : (type == STT_OBJECT || type == STT_FUNC) && start == address;
    if (holds) {
      found = symbol{start, entry.st_value, entry.st_size, std::string(name, length)};
    }
    return holds;
  });
}

// The symbol that starts exactly at `address` or, with `within`, the object
// that holds it; false if there is none.
bool symbol_at(const void* address, bool within, symbol& found) {
  if (program_symbol_at(reinterpret_cast<std::uintptr_t>(address), within, found)) {
    return true;
  }
  Dl_info info{};
  void* dynamic_entry = nullptr;
  if (dladdr1(address, &info, &dynamic_entry, RTLD_DL_SYMENT) == 0 || info.dli_sname == nullptr ||
      dynamic_entry == nullptr || (!within && info.dli_saddr != address)) {
    return false;
  }
  const auto* entry = static_cast<const ElfW(Sym)*>(dynamic_entry);
  const auto start = reinterpret_cast<std::uintptr_t>(info.dli_saddr);
  if (within && reinterpret_cast<std::uintptr_t>(address) - start >= entry->st_size) {
    return false;
  }
  found = symbol{start, 0, entry->st_size, info.dli_sname};
  return true;
}

// `name` without a trailing parameter list and without a leading return type
// (the demangler writes one for function templates).
std::string without_signature(std::string name) {
  if (!name.empty() && name.back() == ')') {
    int depth = 0;
    for (std::size_t i = name.size(); i-- > 0;) {
      depth += name[i] == ')' ? 1 : name[i] == '(' ? -1 : 0;
      if (depth == 0) {
        name.erase(i);
        break;
      }
    }
  }
  int angle = 0;
  for (std::size_t i = name.size(); i-- > 0;) {
    angle += name[i] == '>' ? 1 : name[i] == '<' ? -1 : 0;
    if (angle == 0 && name[i] == ' ') {
      return name.substr(i + 1);
    }
  }
  return name;
}

// The symbol `mangled` as C++ spells it, without the "(anonymous
// namespace)::" parts. Only C++ names (`_Z...`) are demangled: a C name such
// as `i` or `f` is no type code.
std::string readable_symbol(const std::string& mangled) {
  if (mangled.compare(0, 2, "_Z") != 0) {
    return mangled;
  }
  std::string name = qrn::internal::demangled(mangled.c_str());
  const std::string anonymous = "(anonymous namespace)::";
  for (std::size_t at = name.find(anonymous); at != std::string::npos; at = name.find(anonymous)) {
    name.erase(at, anonymous.size());
  }
  return name;
}

// The name shown for the variable whose symbol is `mangled`: readable and,
// for a static local of a function (`_ZZ...`), shortened (see
// local_static_names.h), unless another static local in the program's .symtab
// shortens to the same name from a different one (one in an overload of the
// function): then it keeps its full name.
std::string shown_variable_name(const std::string& mangled) {
  std::string full = readable_symbol(mangled);
  if (mangled.compare(0, 3, "_ZZ") != 0) {
    return full;
  }
  const std::string shortened = short_local_static_name(full);
  const std::string variable = shortened.substr(shortened.rfind("::") + 2);
  const std::string encoded = std::to_string(variable.size()) + variable;  // as mangled
  const bool shared =
      find_program_symbol([&](const elf_symbol& entry, const char* name, std::size_t length) {
        if (ELF64_ST_TYPE(entry.st_info) != STT_OBJECT || length < 3 ||
            std::strncmp(name, "_ZZ", 3) != 0) {
          return false;
        }
        const std::string other_mangled(name, length);
        if (other_mangled == mangled || other_mangled.find(encoded) == std::string::npos) {
          return false;
        }
        const std::string other = readable_symbol(other_mangled);
        return other != full && short_local_static_name(other) == shortened;
      });
  return shared ? full : shortened;
}

// "[i]" when the object of `size` bytes at `offset` in the variable of
// `variable_size` bytes at `first` is element i of an array of such
// objects, judged by sizes, by `same_kind` at every element and by `shape`,
// the line that declares the variable; "[i][j]" by the extents it gives;
// else empty.
std::string array_element(const char* first, std::size_t variable_size, std::size_t offset,
                          std::size_t size, const std::function<bool(const void*)>& same_kind,
                          const declared_shape& shape) {
  if (size == 0 || variable_size % size != 0 || offset % size != 0 ||
      (shape.read && !shape.array)) {
    return {};
  }
  for (std::size_t at = 0; at < variable_size; at += size) {
    if (!same_kind(first + at)) {
      return {};
    }
  }
  std::size_t count = 1;
  for (const std::size_t extent : shape.extents) {
    count *= extent;
  }
  std::size_t index = offset / size;
  if (shape.extents.empty() || count != variable_size / size) {
    return "[" + std::to_string(index) + "]";
  }
  std::string indices;
  for (const std::size_t extent : shape.extents) {
    count /= extent;
    indices += "[" + std::to_string(index / count) + "]";
    index %= count;
  }
  return indices;
}

}  // namespace

std::string variable_name(const void* address, std::size_t size,
                          const std::function<bool(const void*)>& same_kind,
                          const qrn::internal::declaration_site& site) {
  symbol found;
  if (!symbol_at(address, true, found)) {
    return {};
  }
  const std::string variable = shown_variable_name(found.mangled);
  const std::size_t offset = reinterpret_cast<std::uintptr_t>(address) - found.start;
  std::string part;
  if (offset != 0 || found.size != size) {
    part = found.link_address != 0 ? part_of_variable(found.link_address, offset, size) : "";
    if (part.empty()) {
      const std::size_t scope = variable.rfind("::");
      const declared_shape shape = declared_shape_at(
          site, scope == std::string::npos ? variable : variable.substr(scope + 2));
      part = array_element(static_cast<const char*>(address) - offset, found.size, offset, size,
                           same_kind, shape);
    }
    if (part.empty()) {
      return {};
    }
  }
  return variable + part;
}

bool has_static_storage(const void* address) {
  Dl_info info{};
  return dladdr(address, &info) != 0;
}

std::string function_name(void (*function)()) {
  symbol found;
  if (!symbol_at(reinterpret_cast<const void*>(function), false, found)) {
    return {};
  }
  return without_signature(readable_symbol(found.mangled));
}

}  // namespace qrn_runtime
