#include "fiber_switch.h"

#include "fiber_jump.h"

namespace qrn_runtime {

using boost::context::detail::fcontext_t;
using boost::context::detail::transfer_t;

namespace {

// The main stack while a fiber runs: where leave() resumes. Main thread only.
fcontext_t main_context = nullptr;
#if defined(QRN_FIBER_ASAN)
void* main_fake_stack = nullptr;
const void* main_bottom = nullptr;
std::size_t main_size = 0;
#endif
#if defined(QRN_FIBER_TSAN)
void* tsan_main = nullptr;
#endif

}  // namespace

// What a jump hands the side it arrives on: where to keep the context it
// left, and the fiber it arrives in (null for the main stack). Lives on the
// jumping side's stack until the arriving side has read it.
struct fiber_switch::jump_note {
  fcontext_t* left_context;
  fiber_switch* arriving;
};

fiber_switch::fiber_switch(fiber_stack& stack, entry_point entry, void* argument)
    : fiber_(make_context(stack.top(), stack.size(), &fiber_switch::first_entry)),
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
  __sanitizer_start_switch_fiber(&main_fake_stack, fiber_bottom_, fiber_size_);
#endif
#if defined(QRN_FIBER_TSAN)
  tsan_main = __tsan_get_current_fiber();
  __tsan_switch_to_fiber(tsan_fiber_, 0);
#endif
  jump_note note{&main_context, this};
  arrived_on_main(jump_to_context(fiber_, &note));
}

void fiber_switch::leave() {
#if defined(QRN_FIBER_ASAN)
  __sanitizer_start_switch_fiber(&fiber_fake_stack_, main_bottom, main_size);
#endif
#if defined(QRN_FIBER_TSAN)
  __tsan_switch_to_fiber(tsan_main, 0);
#endif
  jump_note note{&fiber_, nullptr};
  arrived_on_fiber(jump_to_context(main_context, &note));
}

void fiber_switch::hand_to(fiber_switch& next) {
#if defined(QRN_FIBER_ASAN)
  __sanitizer_start_switch_fiber(&fiber_fake_stack_, next.fiber_bottom_, next.fiber_size_);
#endif
#if defined(QRN_FIBER_TSAN)
  __tsan_switch_to_fiber(next.tsan_fiber_, 0);
#endif
  jump_note note{&fiber_, &next};
  arrived_on_fiber(jump_to_context(next.fiber_, &note));
}

void fiber_switch::leave_for_good() {
#if defined(QRN_FIBER_ASAN)
  __sanitizer_start_switch_fiber(nullptr, main_bottom, main_size);  // frees the fake stack
#endif
#if defined(QRN_FIBER_TSAN)
  __tsan_switch_to_fiber(tsan_main, 0);
#endif
  jump_note note{&fiber_, nullptr};
  jump_to_context(main_context, &note);
  __builtin_unreachable();
}

void fiber_switch::first_entry(transfer_t from) {
  fiber_switch& self = *static_cast<jump_note*>(from.data)->arriving;
  self.arrived_on_fiber(from);
  self.entry_(self.argument_);
}

void fiber_switch::arrived_on_fiber(transfer_t from) {
  const jump_note& note = *static_cast<const jump_note*>(from.data);
  *note.left_context = from.fctx;
#if defined(QRN_FIBER_ASAN)
  const void* left_bottom = nullptr;
  std::size_t left_size = 0;
  __sanitizer_finish_switch_fiber(fiber_fake_stack_, &left_bottom, &left_size);
  if (note.left_context == &main_context) {
    main_bottom = left_bottom;
    main_size = left_size;
  }
#endif
}

void fiber_switch::arrived_on_main(transfer_t from) {
  *static_cast<const jump_note*>(from.data)->left_context = from.fctx;
#if defined(QRN_FIBER_ASAN)
  __sanitizer_finish_switch_fiber(main_fake_stack, nullptr, nullptr);
#endif
}

}  // namespace qrn_runtime
