#include "fiber_jump.h"

#include <cstdint>
#include <cstring>

namespace qrn_runtime {

using boost::context::detail::fcontext_t;

#if defined(QRN_OWN_CONTEXT_JUMP)

extern "C" void qrn_context_trampoline();

// A context is the stack pointer of its saved frame:
//   0x00  MXCSR (4 bytes), then the x87 control word (2 bytes)
//   0x08  r12, r13, r14, r15, rbx, rbp (to 0x30)
//   0x38  where it resumes (pushed by the call of its last jump)
// A jump returns the context left in rax and `data` in rdx (a transfer_t
// returned), and also leaves them in rdi and rsi, where a context resumed
// for the first time, in the trampoline, passes them on to its entry.
__asm__(
    "  .pushsection .text\n"
    "  .globl qrn_jump_context\n"
    "  .hidden qrn_jump_context\n"
    "  .type qrn_jump_context, @function\n"
    "  .align 16\n"
    "qrn_jump_context:\n"
    "  leaq -0x38(%rsp), %rsp\n"
    "  stmxcsr (%rsp)\n"
    "  fnstcw 0x4(%rsp)\n"
    "  movq %r12, 0x8(%rsp)\n"
    "  movq %r13, 0x10(%rsp)\n"
    "  movq %r14, 0x18(%rsp)\n"
    "  movq %r15, 0x20(%rsp)\n"
    "  movq %rbx, 0x28(%rsp)\n"
    "  movq %rbp, 0x30(%rsp)\n"
    "  movq %rsp, %rax\n"
    "  movq %rdi, %rsp\n"
    "  ldmxcsr (%rsp)\n"
    "  fldcw 0x4(%rsp)\n"
    "  movq 0x8(%rsp), %r12\n"
    "  movq 0x10(%rsp), %r13\n"
    "  movq 0x18(%rsp), %r14\n"
    "  movq 0x20(%rsp), %r15\n"
    "  movq 0x28(%rsp), %rbx\n"
    "  movq 0x30(%rsp), %rbp\n"
    "  leaq 0x38(%rsp), %rsp\n"
    "  movq %rsi, %rdx\n"
    "  movq %rax, %rdi\n"
    "  ret\n"
    "  .size qrn_jump_context, .-qrn_jump_context\n"
    // A new context's first resume returns here, with rsp 16-byte aligned:
    // its entry (in rbx) starts as if called, with a return address that
    // traps, as the entry never returns.
    "  .globl qrn_context_trampoline\n"
    "  .hidden qrn_context_trampoline\n"
    "  .type qrn_context_trampoline, @function\n"
    "  .align 16\n"
    "qrn_context_trampoline:\n"
    "  leaq 1f(%rip), %rbp\n"
    "  pushq %rbp\n"
    "  xorl %ebp, %ebp\n"
    "  jmp *%rbx\n"
    "1:\n"
    "  ud2\n"
    "  .size qrn_context_trampoline, .-qrn_context_trampoline\n"
    "  .popsection\n");

fcontext_t make_context(void* top, std::size_t /*size*/, context_entry entry) {
  constexpr std::size_t frame_bytes = 0x40;
  const std::size_t past_alignment = reinterpret_cast<std::uintptr_t>(top) % 16;
  unsigned char* const frame = static_cast<unsigned char*>(top) - past_alignment - frame_bytes;
  std::memset(frame, 0, frame_bytes);
  // The new context starts with the floating-point control of its maker.
  std::uint32_t mxcsr = 0;
  std::uint16_t x87_control = 0;
  __asm__ volatile("stmxcsr %0" : "=m"(mxcsr));
  __asm__ volatile("fnstcw %0" : "=m"(x87_control));
  std::memcpy(frame, &mxcsr, sizeof mxcsr);
  std::memcpy(frame + 0x4, &x87_control, sizeof x87_control);
  const auto entry_address = reinterpret_cast<std::uintptr_t>(entry);
  const auto trampoline = reinterpret_cast<std::uintptr_t>(&qrn_context_trampoline);
  std::memcpy(frame + 0x28, &entry_address, sizeof entry_address);  // rbx
  std::memcpy(frame + 0x38, &trampoline, sizeof trampoline);
  return frame;
}

#else

fcontext_t make_context(void* top, std::size_t size, context_entry entry) {
  return boost::context::detail::make_fcontext(top, size, entry);
}

#endif

}  // namespace qrn_runtime
