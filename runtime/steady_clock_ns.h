// The steady clock in nanoseconds since its epoch: the one time base of the
// runtime's waits, reports and traces, comparable across threads.
#ifndef QRN_RUNTIME_STEADY_CLOCK_NS_H
#define QRN_RUNTIME_STEADY_CLOCK_NS_H

#include <chrono>
#include <cstdint>

namespace qrn_runtime {

inline std::int64_t steady_now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_STEADY_CLOCK_NS_H
