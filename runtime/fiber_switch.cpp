#include "fiber_switch.h"

namespace qrn_runtime {

using boost::context::detail::jump_fcontext;
using boost::context::detail::make_fcontext;
using boost::context::detail::transfer_t;

fiber_switch::fiber_switch(fiber_stack& stack, entry_point entry, void* argument)
    : fiber_(make_fcontext(stack.top(), stack.size(), &fiber_switch::first_entry)),
      entry_(entry),
      argument_(argument) {
#if defined(QRN_FIBER_ASAN)
  fiber_bottom_ = stack.bottom();
  fiber_size_ = stack.size();
#endif
#if defined(QRN_FIBER_TSAN)
  tsan_fiber_ = __tsan_create_fiber(0);
#endif
}

// NOLINTNEXTLINE(modernize-use-equals-default): not empty under ThreadSanitizer
fiber_switch::~fiber_switch() {
#if defined(QRN_FIBER_TSAN)
  __tsan_destroy_fiber(tsan_fiber_);
#endif
}

void fiber_switch::enter() {
#if defined(QRN_FIBER_ASAN)
  __sanitizer_start_switch_fiber(&main_fake_stack_, fiber_bottom_, fiber_size_);
#endif
#if defined(QRN_FIBER_TSAN)
  tsan_main_ = __tsan_get_current_fiber();
  __tsan_switch_to_fiber(tsan_fiber_, 0);
#endif
  fiber_ = jump_fcontext(fiber_, this).fctx;
  arrived_on_main();
}

void fiber_switch::leave() {
#if defined(QRN_FIBER_ASAN)
  __sanitizer_start_switch_fiber(&fiber_fake_stack_, main_bottom_, main_size_);
#endif
#if defined(QRN_FIBER_TSAN)
  __tsan_switch_to_fiber(tsan_main_, 0);
#endif
  main_ = jump_fcontext(main_, nullptr).fctx;
  arrived_on_fiber();
}

void fiber_switch::leave_for_good() {
#if defined(QRN_FIBER_ASAN)
  __sanitizer_start_switch_fiber(nullptr, main_bottom_, main_size_);  // frees the fake stack
#endif
#if defined(QRN_FIBER_TSAN)
  __tsan_switch_to_fiber(tsan_main_, 0);
#endif
  jump_fcontext(main_, nullptr);
  __builtin_unreachable();
}

void fiber_switch::first_entry(transfer_t from_main) {
  auto& self = *static_cast<fiber_switch*>(from_main.data);
  self.main_ = from_main.fctx;
  self.arrived_on_fiber();
  self.entry_(self.argument_);
}

void fiber_switch::arrived_on_fiber() {
#if defined(QRN_FIBER_ASAN)
  __sanitizer_finish_switch_fiber(fiber_fake_stack_, &main_bottom_, &main_size_);
#endif
}

void fiber_switch::arrived_on_main() {
#if defined(QRN_FIBER_ASAN)
  __sanitizer_finish_switch_fiber(main_fake_stack_, nullptr, nullptr);
#endif
}

}  // namespace qrn_runtime
