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

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "HLS/internal/activity.h"
#include "HLS/internal/parking.h"
#include "HLS/internal/process_exit.h"
#include "HLS/internal/scheduler.h"
#include "HLS/internal/stream_registry.h"
#include "fiber_scheduler.h"
#include "hang_watch.h"
#include "run_snapshot.h"
#include "seconds_setting.h"

// Defined with the diagnostics (diagnostics_setup.cpp).
extern "C" int qrn_runtime_diagnostics_anchor;

namespace {

// Keeps the diagnostics in every program that calls run-all, even one linked
// against the static runtime without the -Wl,-u options that CMake and
// pkg-config add.
__attribute__((used)) int* const diagnostics_linked = &qrn_runtime_diagnostics_anchor;

using qrn::internal::activity;
using qrn::internal::always_run_record;
using steady = std::chrono::steady_clock;

constexpr std::chrono::microseconds yield_phase{2000};
constexpr std::chrono::microseconds sleep_step{100};

struct component_snapshot {
  const always_run_record* record;
  std::uint64_t calls;
  std::uint64_t moved;
  bool parked;          // parked (between call `calls` and the next one, or inside a call)
  std::uint64_t parks;  // parks begun so far
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
    const std::uint64_t parks = record->parker != nullptr ? record->parker->sleeps() : 0;
    snapshot.push_back({record, record->calls.load(), moved, parked, parks});
  }
  return snapshot;
}

bool is_quiet(const component_snapshot& component) {
  if (component.record->ended.load() || component.record->halted.load()) {
    return true;
  }
  if (activity().pending_wakeups.load() == 0 && component.record->asleep.load()) {
    return true;
  }
  // A component polling inside one call (a task that loops) parks in its
  // polls: two parks after the snapshot follow a whole loop of its polls.
  return component.record->calls.load() >= component.calls + (component.parked ? 2 : 3) ||
         (component.record->parker != nullptr &&
          component.record->parker->sleeps() >= component.parks + 2);
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

// Elements moved so far through each live stream (by creation serial) whose
// lock was free, at one moment. Cheap: no names are looked up.
struct stream_traffic {
  steady::time_point at;
  std::map<std::uint64_t, std::uint64_t> moves;
};

stream_traffic traffic_now() {
  stream_traffic traffic{steady::now(), {}};
  qrn::internal::stream_registry_state& registry = qrn::internal::stream_registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  for (const qrn::internal::stream_info* stream = registry.head; stream != nullptr;
       stream = stream->next()) {
    const qrn_runtime::stream_access access(*stream, qrn_runtime::stream_access::attempt::briefly);
    if (access.granted()) {
      traffic.moves[stream->serial()] = stream->stats().written + stream->stats().read;
    }
  }
  return traffic;
}

// The display names of the live streams, by creation serial.
std::map<std::uint64_t, std::string> stream_names() {
  std::map<std::uint64_t, std::string> names;
  qrn::internal::stream_registry_state& registry = qrn::internal::stream_registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  for (qrn::internal::stream_info* stream = registry.head; stream != nullptr;
       stream = stream->next()) {
    names[stream->serial()] = qrn_runtime::stream_name(*stream);
  }
  return names;
}

// Keeps a view of the stream traffic at least a second old, refreshed about
// every second, so that a give-up can name the streams used in the last one.
class traffic_window {
 public:
  void refresh(steady::time_point now) {
    if (now - latest_.at >= std::chrono::seconds(1)) {
      older_ = std::move(latest_);
      latest_ = traffic_now();
    }
  }
  // "NAME (+N), ..." for the streams that moved elements since the older view.
  std::string recent_streams() const {
    const stream_traffic now = traffic_now();
    const stream_traffic& since = older_.moves.empty() ? latest_ : older_;
    const std::map<std::uint64_t, std::string> names = stream_names();
    std::string streams;
    for (const auto& stream : now.moves) {
      const auto before = since.moves.find(stream.first);
      const auto name = names.find(stream.first);
      if (before == since.moves.end() || name == names.end() || stream.second == before->second) {
        continue;
      }
      streams += (streams.empty() ? "" : ", ") + name->second + " (+" +
                 std::to_string(stream.second - before->second) + ")";
    }
    return streams;
  }

 private:
  stream_traffic older_;
  stream_traffic latest_ = traffic_now();
};

// One line on standard error naming each component that kept run-all from
// returning (those that moved elements since `at_start`, and those still
// inside the call they were in at the last snapshot) and the streams that
// moved elements in the last second.
void warn_gave_up(const qrn_runtime::seconds_setting& limit,
                  const std::vector<component_snapshot>& at_start,
                  const std::vector<component_snapshot>& last, const traffic_window& traffic) {
  std::map<const always_run_record*, std::uint64_t> moved_at_start;  // launched since: 0
  for (const component_snapshot& component : at_start) {
    moved_at_start[component.record] = component.moved;
  }
  std::string busy;
  for (const component_snapshot& component : last) {
    const always_run_record& record = *component.record;
    const std::uint64_t moved = record.moved.load() - moved_at_start[&record];
    std::string reason;
    if (moved > 0) {
      reason = "moved " + std::to_string(moved) + " elements";
    } else if (!is_quiet(component)) {
      reason = "still inside one call";
    } else {
      continue;
    }
    busy += busy.empty() ? "" : ", ";
    busy += qrn_runtime::component_name(record) + " (" + reason + ")";
  }
  const std::string streams = traffic.recent_streams();
  std::fprintf(stderr,
               "qrn: __qrn_hls_component_run_all gave up after %s s (QRN_SETTLE_LIMIT): components "
               "still busy: %s; streams used in the last second: %s\n",
               limit.text().c_str(), busy.c_str(), streams.empty() ? "none" : streams.c_str());
}

// Waits for the components on threads; false when it gave up.
bool settle_threads() {
  const std::atomic<always_run_record*>& components = activity().always_run_head;
  const always_run_record* head = components.load(std::memory_order_acquire);
  if (head == nullptr) {
    return true;
  }
  static const bool exit_handler_installed = qrn::internal::install_exit_handler();
  (void)exit_handler_installed;
  const qrn_runtime::seconds_setting& limit = qrn_runtime::settle_limit();
  const steady::time_point started = steady::now();
  const std::vector<component_snapshot> at_start = take_snapshot(head);
  traffic_window traffic;
  for (;;) {
    // Components launched meanwhile (by tasks) join the list at its head: a
    // round that ends with another head was not clean.
    head = components.load(std::memory_order_acquire);
    const std::vector<component_snapshot> snapshot = take_snapshot(head);
    const auto give_up = [&] {
      const steady::time_point now = steady::now();
      traffic.refresh(now);
      if (!limit.reached(now - started)) {
        return false;
      }
      warn_gave_up(limit, at_start, snapshot, traffic);
      return true;
    };
    while (!all_quiet(snapshot)) {
      if (give_up()) {
        return false;
      }
      pause_briefly(started);
    }
    if (!any_moved(snapshot) && components.load(std::memory_order_acquire) == head) {
      return true;
    }
    if (give_up()) {
      return false;
    }
  }
}

// Marks the test bench's main thread as inside run-all for the hang
// diagnosis while it lives.
class bench_in_run_all {
 public:
  bench_in_run_all() : bench_(qrn::internal::on_main_thread()) {
    if (bench_) {
      activity().bench_in_run_all.store(true);
    }
  }
  ~bench_in_run_all() {
    if (bench_) {
      activity().bench_in_run_all.store(false);
    }
  }
  bench_in_run_all(const bench_in_run_all&) = delete;
  bench_in_run_all& operator=(const bench_in_run_all&) = delete;

 private:
  const bool bench_;
};

}  // namespace

extern "C" void __qrn_hls_component_run_all(void (*)()) {
  if (qrn::internal::fiber_scheduling()) {
    qrn_runtime::run_all_fibers();
    return;
  }
  bool settled = false;
  {
    const bench_in_run_all mark;
    settled = settle_threads();
  }
  if (settled) {
    qrn_runtime::check_tasks_after_run_all();
  }
}
