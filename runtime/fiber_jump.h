// The two primitives fiber_switch builds on: making a context on a fresh
// stack, and the jump between contexts. They keep Boost.Context's contract
// (make_fcontext and jump_fcontext): a jump saves the calling context,
// resumes `to`, and hands it a transfer_t of the context left and `data`; a
// context made for `entry` calls it with that transfer_t when first resumed,
// and `entry` must never return.
//
// On x86-64 (ELF) both are the runtime's own, and the jump resumes a
// context with `ret` where Boost's jumps there: the processor predicts
// returns from the calls it has seen, a jump leaves one call unreturned,
// and every return the resumed context then makes up its stack is
// mispredicted. A fiber resumed in a stream's wait returns through several
// frames, so that was most of a switch's cost. Contexts are made here too,
// as the frame a jump resumes must be the one it saves, whatever Boost's
// version lays out. Elsewhere (and with shadow stacks, below) both are
// Boost's.
//
// Main thread only, as every fiber switch.
#ifndef QRN_RUNTIME_FIBER_JUMP_H
#define QRN_RUNTIME_FIBER_JUMP_H

#include <boost/context/detail/fcontext.hpp>
#include <cstddef>

// Not with shadow stacks (-fcf-protection=return or full): they allow a
// return only to where its call was made.
#if defined(__x86_64__) && defined(__ELF__) && !(defined(__CET__) && (__CET__ & 2))
#define QRN_OWN_CONTEXT_JUMP 1
extern "C" boost::context::detail::transfer_t qrn_jump_context(
    boost::context::detail::fcontext_t to, void* data);
#endif

namespace qrn_runtime {

using context_entry = void (*)(boost::context::detail::transfer_t from);

// A context on the stack whose highest address is `top`, of `size` bytes.
boost::context::detail::fcontext_t make_context(void* top, std::size_t size, context_entry entry);

inline boost::context::detail::transfer_t jump_to_context(boost::context::detail::fcontext_t to,
                                                          void* data) {
#if defined(QRN_OWN_CONTEXT_JUMP)
  return qrn_jump_context(to, data);
#else
  return boost::context::detail::jump_fcontext(to, data);
#endif
}

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_FIBER_JUMP_H
