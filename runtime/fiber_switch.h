// Switches between the main thread's own stack and fiber stacks with
// Boost.Context's fcontext, telling AddressSanitizer and ThreadSanitizer
// about each switch (Boost's assembly does not).
//
// The main stack enters a fiber; a fiber leaves to the main stack or hands
// the thread straight to another fiber. Every jump names where the context
// it leaves is kept (the main stack's own slot, or the leaving fiber's), and
// the side that arrives stores it there, so that a fiber entered from one
// fiber can leave to the main stack. Main thread only.
#ifndef QRN_RUNTIME_FIBER_SWITCH_H
#define QRN_RUNTIME_FIBER_SWITCH_H

#include <boost/context/detail/fcontext.hpp>
#include <cstddef>

#include "fiber_stack.h"

#if defined(__SANITIZE_ADDRESS__)
#define QRN_FIBER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QRN_FIBER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define QRN_FIBER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QRN_FIBER_TSAN 1
#endif
#endif

#if defined(QRN_FIBER_ASAN)
#include <sanitizer/common_interface_defs.h>
#endif
#if defined(QRN_FIBER_TSAN)
#include <sanitizer/tsan_interface.h>
#endif

namespace qrn_runtime {

// One fiber's execution context on its own stack.
class fiber_switch {
 public:
  using entry_point = void (*)(void* argument);

  // Prepares a context that, when first entered, calls `entry(argument)`;
  // `entry` must end with leave_for_good().
  fiber_switch(fiber_stack& stack, entry_point entry, void* argument);
  ~fiber_switch();
  fiber_switch(const fiber_switch&) = delete;
  fiber_switch& operator=(const fiber_switch&) = delete;

  // From the main stack: runs the fiber until a fiber leaves to the main
  // stack (this one, or one it handed the thread to).
  void enter();
  // From the fiber: back to the main stack, until it is entered or handed
  // the thread again.
  void leave();
  // From the fiber: runs `next` (another fiber, started or not) on the
  // thread at once, until this one is entered or handed the thread again.
  void hand_to(fiber_switch& next);
  // From the fiber, finished: back to the main stack for good.
  [[noreturn]] void leave_for_good();

 private:
  struct jump_note;

  static void first_entry(boost::context::detail::transfer_t from);
  void arrived_on_fiber(boost::context::detail::transfer_t from);
  static void arrived_on_main(boost::context::detail::transfer_t from);

  boost::context::detail::fcontext_t fiber_;  // where this fiber resumes
  entry_point entry_;
  void* argument_;
#if defined(QRN_FIBER_ASAN)
  const void* fiber_bottom_;
  std::size_t fiber_size_;
  void* fiber_fake_stack_ = nullptr;
#endif
#if defined(QRN_FIBER_TSAN)
  void* tsan_fiber_ = nullptr;
#endif
};

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_FIBER_SWITCH_H
