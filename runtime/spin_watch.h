// Fibers run on one thread: a component that never gives control back (it
// spins on something no stream changes) holds up the whole run. A watch
// thread sees that the running fiber has not switched out for
// QRN_HANG_AFTER and reports it (see report_spinning_fiber).
#ifndef QRN_RUNTIME_SPIN_WATCH_H
#define QRN_RUNTIME_SPIN_WATCH_H

#include <atomic>
#include <cstdint>

#include "HLS/internal/activity.h"

namespace qrn_runtime {

// What the scheduling thread publishes for the watch; written by that
// thread only, with `running` stored before `switches` grows.
struct fiber_progress {
  std::atomic<std::uint64_t> switches{0};  // fibers resumed so far
  // The component whose fiber runs now; null while the test bench runs.
  std::atomic<const qrn::internal::always_run_record*> running{nullptr};
};

// Starts the watch of `progress` on a thread of its own, unless hang checks
// are off (QRN_HANG_AFTER=0). Called once; `progress` lives for good.
void watch_fiber_progress(const fiber_progress& progress);

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_SPIN_WATCH_H
