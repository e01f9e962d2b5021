// The emulation runtime's run-all entry: waits until the always-running
// components have gone quiet (see HLS/runtime.h for the rule).
//
// Quiescence is judged in rounds. A round snapshots, for every component, its
// completed calls and its published moved count, then waits until each one
// either has completed the two calls after the one in progress at the
// snapshot, or sleeps in a blocking read while no wake-up is pending. If no
// moved count changed meanwhile, no stream changed during the round and every
// component has looked at its inputs since: the round is clean and the wait
// ends. Otherwise a new round starts.
#include "HLS/runtime.h"

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "HLS/internal/activity.h"

namespace {

using qrn::internal::activity;
using qrn::internal::always_run_record;
using steady = std::chrono::steady_clock;

constexpr std::chrono::seconds give_up_after{1};
// A gap this long between two looks at the components means the whole process
// was held up (an overloaded machine, a sanitizer pausing every thread): the
// gap does not count towards give_up_after.
constexpr std::chrono::milliseconds held_up_gap{50};
constexpr std::chrono::microseconds yield_phase{2000};
constexpr std::chrono::microseconds sleep_step{100};

struct component_snapshot {
  const always_run_record* record;
  std::uint64_t calls;
  std::uint64_t moved;
};

std::vector<component_snapshot> take_snapshot(const always_run_record* head) {
  std::vector<component_snapshot> snapshot;
  for (const always_run_record* record = head; record != nullptr; record = record->next) {
    const std::uint64_t calls = record->calls.load();
    snapshot.push_back({record, calls, record->moved.load()});
  }
  return snapshot;
}

bool is_quiet(const component_snapshot& component) {
  if (activity().pending_wakeups.load() == 0 && component.record->asleep.load()) {
    return true;
  }
  return component.record->calls.load() >= component.calls + 3;
}

bool all_quiet(const std::vector<component_snapshot>& snapshot) {
  for (const component_snapshot& component : snapshot) {
    if (!is_quiet(component)) {
      return false;
    }
  }
  return true;
}

bool any_moved(const std::vector<component_snapshot>& snapshot) {
  for (const component_snapshot& component : snapshot) {
    if (component.record->moved.load() != component.moved) {
      return true;
    }
  }
  return false;
}

void pause_briefly(steady::time_point started) {
  if (steady::now() - started < yield_phase) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(sleep_step);
  }
}

}  // namespace

extern "C" void __qrn_hls_component_run_all(void (*)()) {
  const always_run_record* head = activity().always_run_head.load(std::memory_order_acquire);
  if (head == nullptr) {
    return;
  }
  const steady::time_point started = steady::now();
  steady::time_point deadline = started + give_up_after;
  steady::time_point last_look = started;
  for (;;) {
    const std::vector<component_snapshot> snapshot = take_snapshot(head);
    while (!all_quiet(snapshot)) {
      const steady::time_point now = steady::now();
      if (now - last_look >= held_up_gap) {
        deadline += now - last_look;
      }
      last_look = now;
      if (now >= deadline) {
        return;
      }
      pause_briefly(started);
    }
    if (!any_moved(snapshot)) {
      return;
    }
  }
}
