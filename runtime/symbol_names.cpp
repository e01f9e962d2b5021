#include "symbol_names.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include "HLS/internal/names.h"

namespace qrn_runtime {

namespace {

// The symbol that starts exactly at `address`, with its size; null if none.
const char* symbol_at(const void* address, std::size_t* size) {
  Dl_info info{};
  void* entry = nullptr;
  if (dladdr1(address, &info, &entry, RTLD_DL_SYMENT) == 0 || info.dli_sname == nullptr ||
      info.dli_saddr != address || entry == nullptr) {
    return nullptr;
  }
  const ElfW(Sym)* symbol = static_cast<const ElfW(Sym)*>(entry);
  *size = symbol->st_size;
  return info.dli_sname;
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

}  // namespace

std::string variable_name(const void* address, std::size_t size) {
  std::size_t symbol_size = 0;
  const char* symbol = symbol_at(address, &symbol_size);
  if (symbol == nullptr || symbol_size != size) {
    return std::string();
  }
  return qrn::internal::demangled(symbol);
}

std::string function_name(void (*function)()) {
  std::size_t size = 0;
  const char* symbol = symbol_at(reinterpret_cast<const void*>(function), &size);
  return symbol == nullptr ? std::string() : without_signature(qrn::internal::demangled(symbol));
}

}  // namespace qrn_runtime
