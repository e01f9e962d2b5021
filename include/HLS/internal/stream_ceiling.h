// The ceiling on the element storage of one stream: a ring that would grow
// past it (a writer that runs away from its reader) ends the run with a
// report instead of taking the machine's memory. Checked only as a ring
// grows, never on a plain write.
//
// The runtime sets the ceiling (QRN_STREAM_LIMIT) and the report while it is
// initialised; without the runtime a ring has no ceiling.
#ifndef QRN_HLS_INTERNAL_STREAM_CEILING_H
#define QRN_HLS_INTERNAL_STREAM_CEILING_H

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace qrn {
namespace internal {

class stream_info;

struct stream_ceiling_state {
  std::atomic<std::size_t> bytes{SIZE_MAX};  // most bytes of storage one ring may take
  // Reports `stream`, which holds `held` elements and whose ring would grow
  // to `bytes`, and ends the process. Called with the stream's mutex held
  // (or elided), by the writer.
  std::atomic<void (*)(const stream_info& stream, std::size_t held, std::size_t bytes)> outgrown{
      nullptr};
};

inline stream_ceiling_state& stream_ceiling() {
  static stream_ceiling_state state;  // constant-initialised: no guard, no destructor
  return state;
}

// Called by the ring of `owner` (null: a ring that belongs to no stream)
// before it grows to `bytes` of storage while holding `held` elements;
// returns only when that stays under the ceiling.
inline void check_stream_growth(const stream_info* owner, std::size_t held, std::size_t bytes) {
  stream_ceiling_state& ceiling = stream_ceiling();
  if (owner == nullptr || bytes <= ceiling.bytes.load(std::memory_order_relaxed)) {
    return;
  }
  if (void (*report)(const stream_info&, std::size_t, std::size_t) = ceiling.outgrown.load()) {
    report(*owner, held, bytes);
  }
}

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_STREAM_CEILING_H
