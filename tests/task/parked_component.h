// Always-running test components that announce their first call and then
// park their worker thread in a blocking read that never returns, so a test
// process does not keep a processor busy after the launch.
#ifndef QRN_TESTS_TASK_PARKED_COMPONENT_H
#define QRN_TESTS_TASK_PARKED_COMPONENT_H

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "HLS/hls_internal.h"
#include "HLS/internal/process_exit.h"
#include "task/latch.h"

namespace qrn_test {

// What one parked component saw. The records and the stream below are
// globals, built before any launch, so they outlive every worker thread.
struct component_record {
  latch first_call{1};
  std::mutex m;
  std::vector<std::thread::id> callers;  // guarded by m: one entry per call
};

constexpr int parked_component_count = 24;
extern component_record parked_records[parked_component_count];
extern qrn::internal::stream<int> never_written;

template <int tag>
void parked_component() {
  component_record& record = parked_records[tag];
  {
    std::lock_guard<std::mutex> lock(record.m);
    record.callers.push_back(std::this_thread::get_id());
  }
  record.first_call.count_down();
  (void)never_written.read(true);
}

// Invocations queued on any worker of this process and not yet returned.
inline long outstanding_invocations() {
  return qrn::internal::process_exit().outstanding_invocations.load();
}

}  // namespace qrn_test

#endif  // QRN_TESTS_TASK_PARKED_COMPONENT_H
