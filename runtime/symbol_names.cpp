// Names from the program's own symbol table (.symtab of /proc/self/exe, which
// also holds internal-linkage objects and functions, unless the program was
// stripped), and else from the dynamic symbol table (dladdr), which covers
// exported symbols of shared libraries too.
#include "symbol_names.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <vector>

#include "HLS/internal/names.h"

namespace qrn_runtime {

namespace {

struct symbol {
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

// The objects and functions of .symtab, by run-time address.
std::map<std::uintptr_t, symbol> read_symbol_table() {
  std::map<std::uintptr_t, symbol> symbols;
  std::ifstream file("/proc/self/exe", std::ios::binary);
  const std::vector<char> image((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
  if (image.size() < sizeof(ElfW(Ehdr)) || std::memcmp(image.data(), ELFMAG, SELFMAG) != 0) {
    return symbols;
  }
  ElfW(Ehdr) header;
  std::memcpy(&header, image.data(), sizeof header);
  const auto section = [&](std::size_t index) {
    ElfW(Shdr) entry{};
    const std::size_t at = header.e_shoff + index * sizeof(ElfW(Shdr));
    if (at + sizeof entry <= image.size()) {
      std::memcpy(&entry, image.data() + at, sizeof entry);
    }
    return entry;
  };
  const ElfW(Addr) bias = program_load_bias();
  for (std::size_t i = 0; i < header.e_shnum; ++i) {
    const ElfW(Shdr) table = section(i);
    if (table.sh_type != SHT_SYMTAB || table.sh_link >= header.e_shnum) {
      continue;
    }
    const ElfW(Shdr) strings = section(table.sh_link);
    for (std::size_t at = table.sh_offset;
         at + sizeof(ElfW(Sym)) <= table.sh_offset + table.sh_size &&
         at + sizeof(ElfW(Sym)) <= image.size();
         at += sizeof(ElfW(Sym))) {
      ElfW(Sym) entry;
      std::memcpy(&entry, image.data() + at, sizeof entry);
      const int type = ELF64_ST_TYPE(entry.st_info);
      const std::size_t name_at = strings.sh_offset + entry.st_name;
      if ((type != STT_OBJECT && type != STT_FUNC) || entry.st_value == 0 ||
          name_at >= image.size()) {
        continue;
      }
      const char* name = image.data() + name_at;
      const std::size_t length = strnlen(name, image.size() - name_at);
      symbols[bias + entry.st_value] = symbol{entry.st_size, std::string(name, length)};
    }
  }
  return symbols;
}

const std::map<std::uintptr_t, symbol>& program_symbols() {
  static const std::map<std::uintptr_t, symbol>* symbols =
      new std::map<std::uintptr_t, symbol>(read_symbol_table());  // never freed: used at exit
  return *symbols;
}

// The mangled name of the symbol that starts exactly at `address`, with its
// size; false if there is none.
bool symbol_at(const void* address, symbol& found) {
  const auto& symbols = program_symbols();
  const auto entry = symbols.find(reinterpret_cast<std::uintptr_t>(address));
  if (entry != symbols.end()) {
    found = entry->second;
    return true;
  }
  Dl_info info{};
  void* dynamic_entry = nullptr;
  if (dladdr1(address, &info, &dynamic_entry, RTLD_DL_SYMENT) == 0 || info.dli_sname == nullptr ||
      info.dli_saddr != address || dynamic_entry == nullptr) {
    return false;
  }
  found = symbol{static_cast<const ElfW(Sym)*>(dynamic_entry)->st_size, info.dli_sname};
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

// Drops the "(anonymous namespace)::" parts a demangled name may carry.
std::string without_anonymous_namespaces(std::string name) {
  const std::string anonymous = "(anonymous namespace)::";
  for (std::size_t at = name.find(anonymous); at != std::string::npos; at = name.find(anonymous)) {
    name.erase(at, anonymous.size());
  }
  return name;
}

}  // namespace

std::string variable_name(const void* address, std::size_t size) {
  symbol found;
  if (!symbol_at(address, found) || found.size != size) {
    return std::string();
  }
  return without_anonymous_namespaces(qrn::internal::demangled(found.mangled.c_str()));
}

std::string function_name(void (*function)()) {
  symbol found;
  if (!symbol_at(reinterpret_cast<const void*>(function), found)) {
    return std::string();
  }
  return without_signature(
      without_anonymous_namespaces(qrn::internal::demangled(found.mangled.c_str())));
}

}  // namespace qrn_runtime
