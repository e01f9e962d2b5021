#include "fiber_jump.h"

#if defined(__x86_64__) && defined(__ELF__)
// The frame a context leaves on its stack, as make_fcontext lays out a new
// one: MXCSR and the x87 control word at 0x00, r12, r13, r14, r15, rbx and
// rbp at 0x08 to 0x30, the address to resume at 0x38 (pushed by the call,
// or make_fcontext's trampoline). Returns the context left in rax and `data`
// in rdx (the transfer_t); a context entered for the first time finds them
// in rdi and rsi, its entry function's argument.
__asm__(
    "  .text\n"
    "  .globl qrn_jump_fcontext\n"
    "  .hidden qrn_jump_fcontext\n"
    "  .type qrn_jump_fcontext,@function\n"
    "  .align 16\n"
    "qrn_jump_fcontext:\n"
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
    "  .size qrn_jump_fcontext, .-qrn_jump_fcontext\n");
#endif
