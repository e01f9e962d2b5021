// Bounded busy-waiting used by the streams' hot paths.
//
// A stream's critical sections last tens of nanoseconds, far less than a trip
// through the kernel, so a thread that finds the stream's mutex taken tries
// again for about two microseconds before it sleeps in `lock()`. The mutex
// stays a `std::mutex`: sleeping, waking and the condition variable work as
// before, ThreadSanitizer sees every acquisition, and glibc's unlock makes no
// system call unless a thread really sleeps on the mutex.
#ifndef QRN_HLS_INTERNAL_SPIN_H
#define QRN_HLS_INTERNAL_SPIN_H

#include <chrono>
#include <thread>

namespace qrn {
namespace internal {

// Tells the processor that the calling thread busy-waits (about 25 ns on
// current x86-64 parts), which frees the core for its sibling thread.
inline void cpu_relax(unsigned int times) {
  for (unsigned int i = 0; i < times; ++i) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
}

// The contended part of lock_spinning(), kept out of line so that the
// uncontended acquisition inlines to a single try_lock().
template <typename Lockable>
__attribute__((noinline)) void lock_after_spinning(Lockable& lockable) {
  constexpr unsigned int attempts = 8;
  constexpr unsigned int longest_pause = 16;
  for (unsigned int attempt = 0; attempt < attempts; ++attempt) {
    const unsigned int pause = 1u << attempt;
    cpu_relax(pause < longest_pause ? pause : longest_pause);
    if (lockable.try_lock()) {
      return;
    }
  }
  lockable.lock();
}

// Acquires `lockable` (a std::mutex or a std::unique_lock on one): try_lock
// attempts with growing pauses, about two microseconds in all, then an
// ordinary sleeping lock(). Exception behaviour is that of lock().
template <typename Lockable>
inline void lock_spinning(Lockable& lockable) {
  if (!lockable.try_lock()) {
    lock_after_spinning(lockable);
  }
}

// How long a blocking read polls an empty stream before it sleeps on the
// stream's condition variable. Long enough to cover a writer that is a few
// operations away, short enough that a reader blocked for long costs next to
// nothing.
constexpr std::chrono::microseconds read_spin_limit{5};

// Called by a tryRead that found its stream empty, after releasing the
// stream's mutex. A caller that polls in a loop then leaves the mutex and the
// queue ends to the writer it waits for for a moment, and every 64th empty
// poll of the thread gives up the processor, so that a writer sharing the
// core (more running threads than cores) gets to run.
inline void back_off_after_empty_poll() {
  constexpr unsigned int polls_per_yield = 64;
  constexpr unsigned int pause = 8;
  static thread_local unsigned int empty_polls = 0;
  if (++empty_polls % polls_per_yield == 0) {
    std::this_thread::yield();
  } else {
    cpu_relax(pause);
  }
}

// Pause between two polls of a spinning wait for an element or for room, in
// cpu_relax() units; every polls_per_yield-th pause gives up the processor
// instead (about every microsecond), so that a thread waited for that this
// core would run next (more running threads than cores, as in a chain of
// components) gets to run, while a thread waited for on another core is seen
// without a system call.
constexpr unsigned int poll_pause = 4;
constexpr unsigned int polls_per_yield = 8;

// Releases `lock`, pauses (the `poll`-th pause of a spinning wait) and takes
// the lock again.
template <typename Lock>
void pause_between_polls(Lock& lock, unsigned int poll) {
  lock.unlock();
  if (poll % polls_per_yield == 0) {
    std::this_thread::yield();
  } else {
    cpu_relax(poll_pause);
  }
  lock_spinning(lock);
}

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_SPIN_H
