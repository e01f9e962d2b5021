// Whether the streams' short path with fibers (see stream_short_path.h) is
// open: one word with a bit for each reason that closes it, so that a stream
// operation tests them all with one load.
//
// The path is closed until the schedule is read and found to be untimed
// fibers, and while a trace is recorded. The word is read relaxed, as the
// flags it stands for were; it changes only when the mode is read and when a
// trace starts or stops. Thread-safe.
#ifndef QRN_HLS_INTERNAL_SHORT_PATH_GATE_H
#define QRN_HLS_INTERNAL_SHORT_PATH_GATE_H

#include <atomic>
#include <cstdint>

namespace qrn {
namespace internal {

enum short_path_closed : std::uint32_t {
  closed_unless_untimed_fibers = 1,  // the mode is not read yet, or is threads or timed
  closed_while_tracing = 2,
};

inline std::atomic<std::uint32_t>& short_path_gate() {
  static std::atomic<std::uint32_t> word{closed_unless_untimed_fibers};  // constant-initialised
  return word;
}

inline void close_short_path(short_path_closed reason) {
  short_path_gate().fetch_or(reason, std::memory_order_relaxed);
}

inline void open_short_path(short_path_closed reason) {
  short_path_gate().fetch_and(~static_cast<std::uint32_t>(reason), std::memory_order_relaxed);
}

// True when no reason closes the short path.
__attribute__((always_inline)) inline bool short_path_open() {
  return short_path_gate().load(std::memory_order_relaxed) == 0;
}

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_SHORT_PATH_GATE_H
