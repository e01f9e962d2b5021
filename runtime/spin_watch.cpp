#include "spin_watch.h"

#include <chrono>
#include <thread>

#include "hang_watch.h"

namespace qrn_runtime {

namespace {

using steady = std::chrono::steady_clock;

// Looks at `progress` every eighth of `hang_after`; reports a fiber that has
// run for `hang_after` without switching out, once per such stretch.
[[noreturn]] void watch(const fiber_progress& progress, steady::duration hang_after) {
  std::uint64_t seen = progress.switches.load(std::memory_order_acquire);
  steady::time_point since = steady::now();
  bool reported = false;
  for (;;) {
    std::this_thread::sleep_for(hang_after / 8);
    const std::uint64_t switches = progress.switches.load(std::memory_order_acquire);
    const qrn::internal::always_run_record* running =
        progress.running.load(std::memory_order_acquire);
    const steady::time_point now = steady::now();
    if (switches != seen || running == nullptr) {
      seen = switches;
      since = now;
      reported = false;
    } else if (!reported && now - since >= hang_after) {
      reported = true;
      report_spinning_fiber(*running, std::chrono::duration<double>(now - since).count());
    }
  }
}

}  // namespace

void watch_fiber_progress(const fiber_progress& progress) {
  const steady::duration hang_after = hang_after_setting();
  if (hang_after.count() > 0) {
    std::thread(&watch, std::cref(progress), hang_after).detach();
  }
}

}  // namespace qrn_runtime
