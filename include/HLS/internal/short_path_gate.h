// Whether the streams' short path with fibers (see stream_short_path.h) is
// open: one word with a bit for each reason that closes it, so that a stream
// operation tests them all with one load.
//
// The path is closed until the schedule is read and found to be untimed
// fibers, and while a trace is recorded; and it is open only on the main
// thread, the one that runs the fibers. Each thread tests its own copy of the
// word: the main thread's follows every change (a change made on another
// thread writes it too), any other thread's stays closed. The words are read
// relaxed; they change only when the mode is read and when a trace starts or
// stops. Thread-safe.
#ifndef QRN_HLS_INTERNAL_SHORT_PATH_GATE_H
#define QRN_HLS_INTERNAL_SHORT_PATH_GATE_H

#include <atomic>
#include <cstdint>
#include <mutex>

namespace qrn {
namespace internal {

enum short_path_closed : std::uint32_t {
  closed_unless_untimed_fibers = 1,  // the mode is not read yet, or is threads or timed
  closed_while_tracing = 2,
  closed_off_the_main_thread = 4,
  closed_until_the_thread_is_known = 8,  // it is not known yet whether this is the main thread
};

// The shared word, and the main thread's copy once it has tested the gate.
// Changes take the mutex. Constant-initialised.
struct short_path_gate_state {
  std::mutex mutex;
  std::uint32_t closed = closed_unless_untimed_fibers;     // guarded by `mutex`
  std::atomic<std::uint32_t>* main_thread_word = nullptr;  // guarded by `mutex`
};

inline short_path_gate_state& short_path_gate() {
  static short_path_gate_state state;
  return state;
}

// The calling thread's copy. Constant-initialised.
inline std::atomic<std::uint32_t>& this_thread_short_path_word() {
  static thread_local std::atomic<std::uint32_t> word{closed_until_the_thread_is_known};
  return word;
}

inline void change_short_path(std::uint32_t close, std::uint32_t open) {
  short_path_gate_state& gate = short_path_gate();
  std::lock_guard<std::mutex> lock(gate.mutex);
  gate.closed = (gate.closed | close) & ~open;
  if (gate.main_thread_word != nullptr) {
    gate.main_thread_word->store(gate.closed, std::memory_order_relaxed);
  }
}

inline void close_short_path(short_path_closed reason) { change_short_path(reason, 0); }
inline void open_short_path(short_path_closed reason) { change_short_path(0, reason); }

// Called once per thread, as it learns whether it is the main thread (see
// on_scheduling_thread): the main thread takes the shared word and follows it
// from then on; any other thread stays closed. Until then a thread's word is
// closed, which sends its stream operations to the general path, where a
// fibers run learns it.
inline void learn_short_path_word(bool main_thread) {
  std::atomic<std::uint32_t>& word = this_thread_short_path_word();
  if (!main_thread) {
    word.store(closed_off_the_main_thread, std::memory_order_relaxed);
    return;
  }
  short_path_gate_state& gate = short_path_gate();
  std::lock_guard<std::mutex> lock(gate.mutex);
  gate.main_thread_word = &word;
  word.store(gate.closed, std::memory_order_relaxed);
}

// True on the main thread, once it is known, when no reason closes the short
// path: one load and one branch.
__attribute__((always_inline)) inline bool short_path_open_here() {
  return this_thread_short_path_word().load(std::memory_order_relaxed) == 0;
}

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_SHORT_PATH_GATE_H
