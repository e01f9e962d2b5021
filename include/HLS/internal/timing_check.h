// The launch-time check of a component's qrn::timing: an initiation interval
// or latency of 0 cycles means nothing, and one beyond largest_timing_cycles
// would push the cycle table's columns apart (and is most likely a time in
// other units). Either ends the process, before the component runs, with one
// line on standard error and status 2.
#ifndef QRN_HLS_INTERNAL_TIMING_CHECK_H
#define QRN_HLS_INTERNAL_TIMING_CHECK_H

#include <cstdio>
#include <cstdlib>
#include <string>

#include "HLS/internal/timed_run.h"

namespace qrn {
namespace internal {

// The most cycles an initiation interval or a latency may take.
constexpr unsigned int largest_timing_cycles = 1u << 20;

// Ends the process when `pace`, given to the launch of `component`, is out
// of range. Called by every launch, before the component starts.
inline void check_timing(const timing& pace, const std::string& component) {
  const char* wrong = nullptr;
  if (pace.ii == 0 || pace.latency == 0) {
    wrong = "an initiation interval and a latency of at least 1 cycle";
  } else if (pace.ii > largest_timing_cycles || pace.latency > largest_timing_cycles) {
    wrong = "an initiation interval and a latency of at most 1048576 cycles";
  }
  if (wrong != nullptr) {
    std::fprintf(stderr, "qrn: component %s launched with qrn::timing{%u, %u}: expected %s\n",
                 component.c_str(), pace.ii, pace.latency, wrong);
    std::fflush(stderr);
    std::_Exit(2);
  }
}

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_TIMING_CHECK_H
