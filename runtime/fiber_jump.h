// The jump between two fcontext_t contexts (made by Boost.Context's
// make_fcontext) that fiber_switch makes, with jump_fcontext's contract:
// saves the calling context, resumes `to`, and hands it a transfer_t of the
// context left and `data`.
//
// On x86-64 (ELF) the jump is the runtime's own, the same as Boost's but for
// its last step: it returns into the context it resumes with `ret`, where
// Boost jumps there. The processor predicts returns from the calls it has
// seen; a jump leaves one call unreturned, and every return the resumed
// context then makes up its stack is mispredicted. A fiber resumed in a
// stream's wait returns through several frames, so this is most of a
// switch's cost. Elsewhere it is Boost's jump_fcontext.
#ifndef QRN_RUNTIME_FIBER_JUMP_H
#define QRN_RUNTIME_FIBER_JUMP_H

#include <boost/context/detail/fcontext.hpp>

#if defined(__x86_64__) && defined(__ELF__)
extern "C" boost::context::detail::transfer_t qrn_jump_fcontext(
    boost::context::detail::fcontext_t to, void* data);
#endif

namespace qrn_runtime {

inline boost::context::detail::transfer_t jump_to_context(boost::context::detail::fcontext_t to,
                                                          void* data) {
#if defined(__x86_64__) && defined(__ELF__)
  return qrn_jump_fcontext(to, data);
#else
  return boost::context::detail::jump_fcontext(to, data);
#endif
}

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_FIBER_JUMP_H
