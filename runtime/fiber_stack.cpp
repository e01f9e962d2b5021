#include "fiber_stack.h"

#include "HLS/internal/activity.h"
#include "HLS/internal/settings.h"
#include "settings.h"

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace qrn_runtime {

namespace {

constexpr std::size_t default_stack_size = std::size_t{1} << 20;
constexpr std::size_t smallest_stack_size = std::size_t{16} << 10;
constexpr std::size_t largest_stack_size = std::size_t{1} << 30;

std::size_t page_size() {
  static const auto size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

std::size_t read_stack_size() {
  const qrn::internal::setting value = qrn::internal::setting_value("QRN_FIBER_STACK");
  if (!value) {
    return default_stack_size;
  }
  unsigned long long bytes = 0;
  if (!parse_byte_count(value.value, bytes) || bytes < smallest_stack_size ||
      bytes > largest_stack_size) {
    std::fprintf(stderr,
                 "qrn: ignoring QRN_FIBER_STACK=%s%s: expected bytes (K or M suffix allowed) from "
                 "16K to 1024M; using 1M\n",
                 value.value, value.note());
    qrn::internal::note_bad_setting();
    return default_stack_size;
  }
  const std::size_t page = page_size();
  return static_cast<std::size_t>((bytes + page - 1) / page * page);
}

// What the overflow handler knows of one live stack. Written only while no
// fiber runs (the handler cannot interrupt a write that matters).
struct guarded_stack {
  std::uintptr_t guard_begin = 0;  // 0: slot free
  std::uintptr_t guard_end = 0;
};

std::vector<guarded_stack>& guarded_stacks() {
  static auto* stacks =
      new std::vector<guarded_stack>;  // never destroyed: the handler may run at exit
  return *stacks;
}

struct sigaction previous_action;

// Writes `text` (up to `length` bytes) to standard error; async-signal-safe.
void say(const char* text, std::size_t length) {
  while (length > 0) {
    const ssize_t written = ::write(STDERR_FILENO, text, length);
    if (written <= 0) {
      return;
    }
    text += written;
    length -= static_cast<std::size_t>(written);
  }
}

void say(const char* text) { say(text, std::strlen(text)); }

// The component's name inside its signature, as component_name_from_signature()
// finds it, without allocating: the text after the first " = " that follows
// the '[', up to the closing ']' or ';'.
void say_component_name(const char* signature) {
  const char* open = signature != nullptr ? std::strchr(signature, '[') : nullptr;
  const char* equals = open != nullptr ? std::strstr(open, " = ") : nullptr;
  if (equals == nullptr) {
    say(signature != nullptr ? signature : "(a task invocation)");
    return;
  }
  const char* name = equals + 3;
  std::size_t length = std::strcspn(name, "];");
  say(name, length);
}

void say_number(std::size_t value) {
  std::array<char, 24> digits{};
  std::size_t at = digits.size();
  do {
    digits[--at] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && at > 0);
  say(digits.data() + at, digits.size() - at);
}

void on_segv(int signal, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (const guarded_stack& stack : guarded_stacks()) {
    if (stack.guard_begin != 0 && address >= stack.guard_begin && address < stack.guard_end) {
      say("qrn: component ");
      const qrn::internal::always_run_record* record = qrn::internal::current_always_run_record();
      say_component_name(record != nullptr ? record->signature : nullptr);
      say(" overflowed its fiber stack of ");
      say_number(fiber_stack_size());
      say(" bytes; give it more with QRN_FIBER_STACK (bytes, K or M)\n");
      ::signal(SIGSEGV, SIG_DFL);  // the faulting access repeats and ends the process
      return;
    }
  }
  // Not a fiber's guard page: whoever handled SIGSEGV before handles it.
  if ((previous_action.sa_flags & SA_SIGINFO) != 0 && previous_action.sa_sigaction != nullptr) {
    previous_action.sa_sigaction(signal, info, context);
    return;
  }
  ::sigaction(SIGSEGV, &previous_action, nullptr);
}

// Installs the handler once; it runs on an alternate stack (an overflow
// leaves no room on the stack that overflowed), which the thread that runs
// fibers gets from give_this_thread_a_signal_stack().
void watch_guard_pages() {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_sigaction = &on_segv;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGSEGV, &action, &previous_action);
    return true;
  }();
  (void)installed;
}

}  // namespace

void give_this_thread_a_signal_stack() {
  static thread_local bool given = false;
  if (given) {
    return;
  }
  given = true;
  stack_t current{};
  if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0) {
    return;  // keep the one it has (a sanitizer's, say), which its owner frees
  }
  constexpr std::size_t altstack_size = 64 << 10;
  stack_t alternate{};
  alternate.ss_sp = new char[altstack_size];  // kept for the life of the process
  alternate.ss_size = altstack_size;
  ::sigaltstack(&alternate, nullptr);
}

std::size_t fiber_stack_size() {
  static const std::size_t size = read_stack_size();
  return size;
}

fiber_stack::fiber_stack() : size_(fiber_stack_size()) {
  watch_guard_pages();
  const std::size_t guard = page_size();
  mapping_ = ::mmap(nullptr, guard + size_, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
  if (mapping_ == MAP_FAILED) {
    throw std::bad_alloc();
  }
  ::mprotect(mapping_, guard, PROT_NONE);
  usable_ = static_cast<char*>(mapping_) + guard;
  std::vector<guarded_stack>& stacks = guarded_stacks();
  slot_ = 0;
  while (slot_ < stacks.size() && stacks[slot_].guard_begin != 0) {
    ++slot_;
  }
  const guarded_stack entry{reinterpret_cast<std::uintptr_t>(mapping_),
                            reinterpret_cast<std::uintptr_t>(usable_)};
  if (slot_ == stacks.size()) {
    stacks.push_back(entry);
  } else {
    stacks[slot_] = entry;
  }
}

fiber_stack::~fiber_stack() {
  guarded_stacks()[slot_] = guarded_stack{};
  ::munmap(mapping_, page_size() + size_);
}

}  // namespace qrn_runtime
