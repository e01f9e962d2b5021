// The steady clock in nanoseconds, read at every switch between fibers, so a
// read must cost far less than the steady clock's own.
//
// Where the processor's counter can be trusted (see hardware_clock_source),
// a read takes the counter and scales it from the latest anchor, a reading
// of the steady clock paired with the counter. Once the counter has run a
// millisecond past the anchor, the read takes the steady clock again and,
// if the counter's two reads around it lie close together, makes that
// reading the next anchor; otherwise it returns the steady clock's value
// and tries again at the next read. The first rate comes from two paired
// readings at least 5 ms apart, later ones from two anchors at least half
// a millisecond apart; a later measure that differs from the rate by more
// than 1 % (a counter that jumped) is dropped. So a value strays from
// the steady clock's by at most the rate's error over one millisecond, and
// a wait of a millisecond or more spans a steady-clock reading. Until the
// first rate is known, and without a trusted counter, every read is the
// steady clock's. Values never go back.
//
// Main thread only: the fiber scheduler's.
#ifndef QRN_RUNTIME_SWITCH_CLOCK_H
#define QRN_RUNTIME_SWITCH_CLOCK_H

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "steady_clock_ns.h"

#if defined(__x86_64__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

namespace qrn_runtime {

// The counter and the steady clock of the machine. The counter is trusted
// when it runs at a constant rate in every power state and the kernel keeps
// its own time by it (it then checked that the processors' counters agree).
struct hardware_clock_source {
  static bool counter_usable() {
#if defined(__x86_64__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    const bool invariant =  // CPUID 0x80000007, EDX bit 8
        __get_cpuid(0x80000007U, &eax, &ebx, &ecx, &edx) != 0 && (edx & (1U << 8)) != 0;
    return invariant && kernel_clock_is_the_counter();
#else
    return false;
#endif
  }
  static std::uint64_t ticks() {
#if defined(__x86_64__)
    return __rdtsc();
#else
    return 0;
#endif
  }
  static std::int64_t steady_ns() { return steady_now_ns(); }

 private:
  static bool kernel_clock_is_the_counter() {
    std::FILE* file =
        std::fopen("/sys/devices/system/clocksource/clocksource0/current_clocksource", "r");
    if (file == nullptr) {
      return false;
    }
    std::array<char, 32> name{};
    const bool read = std::fgets(name.data(), static_cast<int>(name.size()), file) != nullptr;
    std::fclose(file);
    return read && std::strcmp(name.data(), "tsc\n") == 0;
  }
};

template <typename Source>
class basic_switch_clock {
 public:
  explicit basic_switch_clock(Source source = Source())
      : source_(source), counter_usable_(source_.counter_usable()) {}

  std::int64_t now_ns() {
    if (!counter_usable_) {
      return never_back(source_.steady_ns());
    }
    const std::uint64_t ticks = source_.ticks();
    const std::uint64_t since_anchor = ticks - anchor_.ticks;  // huge if the counter went back
    if (ns_per_tick_ > 0 && since_anchor < reanchor_ticks_) {
      return never_back(
          anchor_.ns + static_cast<std::int64_t>(static_cast<double>(since_anchor) * ns_per_tick_));
    }
    return never_back(read_steady_clock(ticks));
  }

 private:
  struct reading {
    std::int64_t ns = 0;
    std::uint64_t ticks = 0;
  };

  static constexpr std::int64_t anchor_span_ns = 1000000;
  // The first rate is measured over a longer span, as later ones are held
  // to it.
  static constexpr std::int64_t first_rate_span_ns = 5 * anchor_span_ns;
  // The most ticks between the counter's reads around a steady-clock read
  // for the pair to count: a few microseconds at any likely rate.
  static constexpr std::uint64_t paired_within_ticks = 10000;
  // Rates outside these bounds (ns per tick) are no counter's.
  static constexpr double slowest_rate = 100.0;
  static constexpr double fastest_rate = 0.01;

  // The steady clock, read after the counter read `before`; the reading
  // becomes the anchor (and may give the rate) when the counter's read
  // after it comes close.
  std::int64_t read_steady_clock(std::uint64_t before) {
    const std::int64_t ns = source_.steady_ns();
    const std::uint64_t after = source_.ticks();
    if (after >= before && after - before <= paired_within_ticks) {
      anchor_at({ns, before + (after - before) / 2});
    }
    return ns;
  }

  // Until the first rate is taken, the first reading stays the base it is
  // measured from; a rate that cannot be taken starts the measure again.
  void anchor_at(const reading& now) {
    const bool rate_known = ns_per_tick_ > 0;
    if (anchored_ && now.ticks > anchor_.ticks) {
      const std::int64_t span_ns = now.ns - anchor_.ns;
      if (span_ns >= (rate_known ? anchor_span_ns / 2 : first_rate_span_ns)) {
        take_rate(static_cast<double>(span_ns) / static_cast<double>(now.ticks - anchor_.ticks));
      } else if (!rate_known) {
        return;
      }
    }
    anchored_ = true;
    anchor_ = now;
  }

  void take_rate(double measured) {
    if (measured > slowest_rate || measured < fastest_rate) {
      return;
    }
    if (ns_per_tick_ > 0 && (measured > ns_per_tick_ * 1.01 || measured < ns_per_tick_ * 0.99)) {
      return;
    }
    ns_per_tick_ = measured;
    reanchor_ticks_ = static_cast<std::uint64_t>(static_cast<double>(anchor_span_ns) / measured);
  }

  std::int64_t never_back(std::int64_t ns) {
    if (ns < last_ns_) {
      return last_ns_;
    }
    last_ns_ = ns;
    return ns;
  }

  Source source_;
  bool counter_usable_;
  bool anchored_ = false;
  reading anchor_;
  double ns_per_tick_ = 0;  // 0 until the first rate is known
  std::uint64_t reanchor_ticks_ = 0;
  std::int64_t last_ns_ = 0;
};

using switch_clock = basic_switch_clock<hardware_clock_source>;

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_SWITCH_CLOCK_H
