// Fiber stacks: mapped memory with an inaccessible guard page below each, and
// the SIGSEGV handler that turns a fault in a guard page into one line on
// standard error naming the component and QRN_FIBER_STACK.
//
// Main thread only, like every part of the fiber scheduler; the handler runs
// on an alternate signal stack and only reads the table of live stacks.
#ifndef QRN_RUNTIME_FIBER_STACK_H
#define QRN_RUNTIME_FIBER_STACK_H

#include <cstddef>

namespace qrn_runtime {

// Gives the calling thread, which runs fibers, an alternate signal stack for
// the overflow handler unless it has one already. Cheap after the first call.
void give_this_thread_a_signal_stack();

class fiber_stack {
 public:
  // Maps a stack of fiber_stack_size() bytes and its guard page, and watches
  // the guard page for the life of this object. An overflow names the
  // always-running component that the main thread runs at that moment.
  fiber_stack();
  ~fiber_stack();
  fiber_stack(const fiber_stack&) = delete;
  fiber_stack& operator=(const fiber_stack&) = delete;

  // The highest address (stacks grow down) and the usable size.
  void* top() const { return static_cast<char*>(usable_) + size_; }
  void* bottom() const { return usable_; }
  std::size_t size() const { return size_; }

 private:
  void* mapping_;  // guard page, then the usable stack
  void* usable_;
  std::size_t size_;
  unsigned slot_;  // in the table the overflow handler reads
};

// QRN_FIBER_STACK: bytes of stack per fiber (K and M suffixes allowed); read
// once. Unset or bad: 1 MiB, and a bad value gets one line on standard error.
std::size_t fiber_stack_size();

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_FIBER_STACK_H
