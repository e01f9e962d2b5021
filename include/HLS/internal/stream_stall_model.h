// The stall model of one stream: how the test bench's side of it is paced in
// a timed run. Periods are drawn from the parameters that setStallCycles()
// and setReadyorValidCycles() set (kept in stream_abstract_base): each period
// stalls for the drawn stall, then is ready (or valid) for the drawn window.
//
// No lock: callers must not let these overlap with any timing call on a
// stream of the same element type, which shares its random sequence.
//
// `Stream` is the stream class (see HLS/hls_internal.h), which derives from
// this mixin and befriends it; the mixin holds no state of its own beyond
// that sequence.
#ifndef QRN_HLS_INTERNAL_STREAM_STALL_MODEL_H
#define QRN_HLS_INTERNAL_STREAM_STALL_MODEL_H

namespace qrn {
namespace internal {

template <typename Stream>
class stream_stall_model {
 public:
  // One emulated cycle of the timing model: true while the drawn stall lasts,
  // then false for the drawn ready/valid window, after which the next period
  // is drawn. With the construction parameters it never stalls.
  bool stall() {
    Stream& s = self();
    if (s.m_remaining_period > s.m_period_threshold) {
      --s.m_remaining_period;
      return true;
    }
    if (s.m_remaining_period > 1) {
      --s.m_remaining_period;
    } else {
      setStallPeriod();
    }
    return false;
  }

  // Draws a new stall and ready/valid period (0, 1 or 2 draws, stall first).
  // All arithmetic is modulo 2^32.
  void setStallPeriod() {
    Stream& s = self();
    if (s.m_stall_delta == 0) {
      s.m_remaining_period = s.m_average_stall;
    } else {
      s.m_remaining_period =
          (s.m_average_stall - s.m_stall_delta) + msws() % (2 * s.m_stall_delta + 1);
    }
    if (s.m_RoV_delta == 0) {
      s.m_period_threshold = s.m_average_RoV;
    } else {
      s.m_period_threshold = (s.m_average_RoV - s.m_RoV_delta) + msws() % (2 * s.m_RoV_delta + 1);
    }
    s.m_remaining_period = s.m_remaining_period + s.m_period_threshold;
  }

  // Middle-square Weyl sequence. One sequence per element type, shared by all
  // streams of that type and never reseeded; not synchronised.
  unsigned int msws() {
    static unsigned long long x = 0;
    static unsigned long long w = 0;
    const unsigned long long s = 0xb5ad4eceda1ce2a9ULL;
    x *= x;
    w += s;
    x += w;
    x = (x >> 32) | (x << 32);
    return static_cast<unsigned int>(x);
  }

 private:
  Stream& self() { return static_cast<Stream&>(*this); }
};

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_STREAM_STALL_MODEL_H
