// The steady clock in nanoseconds, read at every switch between fibers, so a
// read must cost far less than the steady clock's own.
//
// On x86-64 with an invariant time-stamp counter, a read takes the counter
// and scales it from the latest reading of the steady clock (the anchor),
// at the rate the counter ran between the last two anchors. Once the counter
// has run a millisecond past the anchor, the read takes the steady clock
// again and makes it the anchor. So a value strays from the steady clock's
// by at most the rate's error over one millisecond, and a span that spans
// an anchor (a wait of a millisecond or more) is the steady clock's own.
// Until the first rate is known, and without such a counter, every read is
// the steady clock's. Values never go back.
//
// Main thread only: the fiber scheduler's.
#ifndef QRN_RUNTIME_SWITCH_CLOCK_H
#define QRN_RUNTIME_SWITCH_CLOCK_H

#include <chrono>
#include <cstdint>

#if defined(__x86_64__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

namespace qrn_runtime {

class switch_clock {
 public:
  switch_clock() : counter_usable_(invariant_counter()) {}

  std::int64_t now_ns() {
#if defined(__x86_64__)
    if (counter_usable_) {
      const std::uint64_t ticks = __rdtsc();
      const std::uint64_t since_anchor = ticks - anchor_ticks_;  // huge if the counter went back
      const bool scalable = ns_per_tick_ > 0 && since_anchor < reanchor_ticks_;
      return never_back(scalable ? anchor_ns_ + in_ns(since_anchor) : anchor_at(ticks));
    }
#endif
    return never_back(steady_ns());
  }

 private:
  static constexpr std::int64_t anchor_span_ns = 1000000;

  static std::int64_t steady_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  std::int64_t in_ns(std::uint64_t ticks) const {
    return static_cast<std::int64_t>(static_cast<double>(ticks) * ns_per_tick_);
  }

  // Reads the steady clock at `ticks` and makes it the anchor; the rate
  // comes from the previous anchor when that is at least anchor_span_ns
  // old. Until the first rate is known the anchor stays the first reading,
  // so that the rate is taken over at least anchor_span_ns.
  std::int64_t anchor_at(std::uint64_t ticks) {
    const std::int64_t ns = steady_ns();
    if (anchored_ && ticks > anchor_ticks_ && ns - anchor_ns_ >= anchor_span_ns) {
      ns_per_tick_ =
          static_cast<double>(ns - anchor_ns_) / static_cast<double>(ticks - anchor_ticks_);
      reanchor_ticks_ =
          static_cast<std::uint64_t>(static_cast<double>(anchor_span_ns) / ns_per_tick_);
    }
    if (!anchored_ || ns_per_tick_ > 0 || ticks < anchor_ticks_) {
      anchor_ns_ = ns;
      anchor_ticks_ = ticks;
      anchored_ = true;
    }
    return ns;
  }

  std::int64_t never_back(std::int64_t ns) {
    if (ns < last_ns_) {
      return last_ns_;
    }
    last_ns_ = ns;
    return ns;
  }

  static bool invariant_counter() {
#if defined(__x86_64__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    // CPUID 0x80000007, EDX bit 8: the counter runs at a constant rate in
    // every power state.
    return __get_cpuid(0x80000007U, &eax, &ebx, &ecx, &edx) != 0 && (edx & (1U << 8)) != 0;
#else
    return false;
#endif
  }

  bool counter_usable_;
  bool anchored_ = false;
  std::int64_t anchor_ns_ = 0;
  std::uint64_t anchor_ticks_ = 0;
  double ns_per_tick_ = 0;  // 0 until the first rate is known
  std::uint64_t reanchor_ticks_ = 0;
  std::int64_t last_ns_ = 0;
};

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_SWITCH_CLOCK_H
