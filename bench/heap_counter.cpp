#include "heap_counter.h"

#include <cstdlib>
#include <new>

namespace {

thread_local std::size_t allocated_bytes = 0;

}  // namespace

namespace qrn_bench {

std::size_t heap_bytes_allocated_by_this_thread() { return allocated_bytes; }

}  // namespace qrn_bench

// The array and nothrow forms of the standard library call these.
void* operator new(std::size_t size) {
  allocated_bytes += size;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) {
    return memory;
  }
  throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }

void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
