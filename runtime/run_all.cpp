// The emulation runtime's run-all entry: waits until the always-running
// components have gone quiet (see HLS/runtime.h for the rule).
//
// Quiescence is judged in rounds. A round snapshots, for every component, its
// completed calls and its published moved count, then waits until each one
// either has completed the two calls after the one in progress at the
// snapshot, or sleeps in a blocking read while no wake-up is pending. A
// component parked between two calls at the snapshot needs only the two calls
// after it, and a parked component that is not yet quiet is woken, so that it
// makes them at once rather than when its pause ends. If no moved count changed
// meanwhile, no stream changed during the round and every component has
// looked at its inputs since: the round is clean and the wait ends. Otherwise
// a new round starts, for as long as the settle limit allows.
#include "HLS/runtime.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "HLS/internal/activity.h"
#include "HLS/internal/parking.h"
#include "HLS/internal/process_exit.h"
#include "seconds_setting.h"

namespace {

using qrn::internal::activity;
using qrn::internal::always_run_record;
using steady = std::chrono::steady_clock;

constexpr std::chrono::microseconds yield_phase{2000};
constexpr std::chrono::microseconds sleep_step{100};

struct component_snapshot {
  const always_run_record* record;
  std::uint64_t calls;
  std::uint64_t moved;
  bool parked;  // between call `calls` and the next one, parked
};

// Reads each moved count before the call count: a component that completes
// calls between the two loads then shows them as calls after the snapshot
// that must move nothing. (Read the other way round, calls that moved between
// the two loads would pass for quiet ones.)
std::vector<component_snapshot> take_snapshot(const always_run_record* head) {
  std::vector<component_snapshot> snapshot;
  for (const always_run_record* record = head; record != nullptr; record = record->next) {
    const std::uint64_t moved = record->moved.load();
    // The parker word before the call count: a worker seen parked has
    // published the calls it made before parking.
    const bool parked = record->parker != nullptr && record->parker->parked_now();
    snapshot.push_back({record, record->calls.load(), moved, parked});
  }
  return snapshot;
}

bool is_quiet(const component_snapshot& component) {
  if (activity().pending_wakeups.load() == 0 && component.record->asleep.load()) {
    return true;
  }
  return component.record->calls.load() >= component.calls + (component.parked ? 2 : 3);
}

// Also wakes each parked component that is not quiet yet.
bool all_quiet(const std::vector<component_snapshot>& snapshot) {
  bool quiet = true;
  for (const component_snapshot& component : snapshot) {
    if (!is_quiet(component)) {
      quiet = false;
      qrn::internal::idle_parker* parker = component.record->parker;
      if (parker != nullptr && parker->parked_now()) {
        parker->wake();
      }
    }
  }
  return quiet;
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

// One line on standard error naming each component that kept run-all from
// returning: those that moved elements since `at_start`, and those still
// inside the call they were in at the last snapshot.
// How long run-all waits for components that keep moving elements.
constexpr double default_settle_limit_seconds = 60;

void warn_gave_up(const qrn_runtime::seconds_setting& limit,
                  const std::vector<component_snapshot>& at_start,
                  const std::vector<component_snapshot>& last) {
  std::string busy;
  for (std::size_t i = 0; i < last.size(); ++i) {
    const always_run_record& record = *last[i].record;
    const std::uint64_t moved = record.moved.load() - at_start[i].moved;
    std::string reason;
    if (moved > 0) {
      reason = "moved " + std::to_string(moved) + " elements";
    } else if (!is_quiet(last[i])) {
      reason = "still inside one call";
    } else {
      continue;
    }
    busy += busy.empty() ? "" : ", ";
    busy += qrn::internal::component_name_from_signature(record.signature) + " (" + reason + ")";
  }
  std::fprintf(stderr,
               "qrn: __qrn_hls_component_run_all gave up after %s s (QRN_SETTLE_LIMIT): components "
               "still busy: %s\n",
               limit.text().c_str(), busy.c_str());
}

}  // namespace

extern "C" void __qrn_hls_component_run_all(void (*)()) {
  const always_run_record* head = activity().always_run_head.load(std::memory_order_acquire);
  if (head == nullptr) {
    return;
  }
  static const bool exit_handler_installed = qrn::internal::install_exit_handler();
  (void)exit_handler_installed;
  static const qrn_runtime::seconds_setting limit("QRN_SETTLE_LIMIT", default_settle_limit_seconds);
  const steady::time_point started = steady::now();
  const std::vector<component_snapshot> at_start = take_snapshot(head);
  for (;;) {
    const std::vector<component_snapshot> snapshot = take_snapshot(head);
    const auto give_up = [&] {
      if (!limit.reached(steady::now() - started)) {
        return false;
      }
      warn_gave_up(limit, at_start, snapshot);
      return true;
    };
    while (!all_quiet(snapshot)) {
      if (give_up()) {
        return;
      }
      pause_briefly(started);
    }
    if (!any_moved(snapshot) || give_up()) {
      return;
    }
  }
}
