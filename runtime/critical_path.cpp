#include "critical_path.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

#include "HLS/internal/settings.h"

namespace qrn_runtime {

namespace {

using qrn::internal::component_clock;

// One event. `back`: its number minus that of the event that decided it; 0
// for the run's start; `beyond` when that event lies past any window.
struct event_record {
  std::uint64_t cycle = 0;
  std::uint32_t back = 0;
  path_cause cause = 0;
  path_cause extra_cause = 0;
  std::uint32_t extra = 0;
};

constexpr std::uint32_t beyond = UINT32_MAX;
constexpr std::uint64_t default_window = 262144;
constexpr std::uint64_t largest_window = std::uint64_t{1} << 30;  // keeps `back` below `beyond`

constexpr unsigned kind_shift = 29;
constexpr std::uint32_t subject_mask = (1U << kind_shift) - 1;

// Never destroyed: the report reads it while the process ends.
struct event_ring {
  std::vector<event_record> events;  // event n at (n - 1) % window, once filled
  std::uint64_t window = default_window;
  std::uint64_t count = 0;                     // events made
  std::vector<const component_clock*> clocks;  // by slot - 1
};

event_ring& ring() {
  static auto* the = new event_ring;
  return *the;
}

bool in_window(const event_ring& r, path_event event) {
  return event != 0 && event <= r.count && r.count - event < r.window;
}

const event_record& record_of(const event_ring& r, path_event event) {
  return r.events[(event - 1) % r.window];
}

std::uint32_t clamp32(std::uint64_t value) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, beyond - 1));
}

}  // namespace

path_cause stream_path_cause(path_cause_kind kind, std::uint64_t serial) {
  return static_cast<std::uint32_t>(kind) << kind_shift |
         static_cast<std::uint32_t>(serial & subject_mask);
}

path_cause component_path_cause(path_cause_kind kind, component_clock& clock) {
  if (clock.path_slot == 0) {
    event_ring& r = ring();
    r.clocks.push_back(&clock);
    clock.path_slot = static_cast<std::uint32_t>(r.clocks.size());
  }
  return static_cast<std::uint32_t>(kind) << kind_shift | (clock.path_slot & subject_mask);
}

path_cause_kind kind_of(path_cause cause) {
  return static_cast<path_cause_kind>(cause >> kind_shift);
}

std::uint32_t subject_of(path_cause cause) { return cause & subject_mask; }

const component_clock* clock_of_slot(std::uint32_t slot) {
  const event_ring& r = ring();
  return slot != 0 && slot <= r.clocks.size() ? r.clocks[slot - 1] : nullptr;
}

path_event note_path_event(std::uint64_t cycle, path_event from, path_cause cause,
                           std::uint64_t extra, path_cause extra_cause) {
  event_ring& r = ring();
  const path_event made = ++r.count;
  event_record record;
  record.cycle = cycle;
  record.back = from == 0                ? 0
                : made - from < r.window ? static_cast<std::uint32_t>(made - from)
                                         : beyond;
  record.cause = cause;
  record.extra_cause = extra_cause;
  record.extra = clamp32(extra);
  if (r.events.size() < r.window) {
    r.events.push_back(record);
  } else {
    r.events[(made - 1) % r.window] = record;
  }
  return made;
}

void anchor_clock(component_clock& clock, path_event anchor, std::uint64_t anchor_cycle) {
  clock.path_anchor = anchor;
  clock.path_anchor_cycle = anchor_cycle;
  clock.path_paced = 0;
}

path_event note_clock_event(component_clock& clock, std::uint64_t cycle) {
  // An iteration's early stage may come before its predecessor's late one
  // that stalled: then nothing is latency.
  const std::uint64_t since = cycle > clock.path_anchor_cycle ? cycle - clock.path_anchor_cycle : 0;
  const std::uint64_t paced = std::min(clock.path_paced, since);
  return note_path_event(cycle, clock.path_anchor,
                         component_path_cause(path_cause_kind::pace, clock), since - paced,
                         component_path_cause(path_cause_kind::latency, clock));
}

void configure_critical_path() {
  const qrn::internal::setting value = qrn::internal::setting_value("QRN_TIME_PATH_EVENTS");
  if (!value) {
    return;
  }
  char* end = nullptr;
  errno = 0;
  const unsigned long long events = std::strtoull(value.value, &end, 10);
  if (end == value.value || *end != '\0' || errno != 0 || value.value[0] == '-' || events == 0 ||
      events > largest_window) {
    std::fprintf(stderr,
                 "qrn: ignoring QRN_TIME_PATH_EVENTS=%s%s: expected a number of events from 1 to "
                 "%llu; keeping %llu\n",
                 value.value, value.note(), static_cast<unsigned long long>(largest_window),
                 static_cast<unsigned long long>(default_window));
    qrn::internal::note_bad_setting();
    return;
  }
  ring().window = events;
}

critical_path walk_critical_path(path_event last) {
  critical_path path;
  const event_ring& r = ring();
  if (!in_window(r, last)) {
    path.complete = last == 0;
    return path;
  }
  const std::uint64_t end_cycle = record_of(r, last).cycle;
  path.cycles = end_cycle;
  std::unordered_map<path_cause, std::size_t> index;
  const auto add = [&path, &index](path_cause cause, std::int64_t cycles) {
    if (cycles == 0) {
      return;
    }
    const auto found = index.emplace(cause, path.shares.size());
    if (found.second) {
      path.shares.push_back({cause, 0});
    }
    path.shares[found.first->second].cycles += cycles;
  };
  for (path_event at = last;;) {
    const event_record& record = record_of(r, at);
    const path_event from = record.back == 0 || record.back == beyond ? 0 : at - record.back;
    if (record.back != 0 && !in_window(r, from)) {
      path.complete = false;
      path.cycles = end_cycle - record.cycle;
      break;
    }
    const event_record* before = from != 0 ? &record_of(r, from) : nullptr;
    const std::int64_t cycles = static_cast<std::int64_t>(record.cycle) -
                                static_cast<std::int64_t>(before != nullptr ? before->cycle : 0);
    path_cause cause = record.cause;
    // The transfer cycle of an element whose write waited for room that a
    // read of the same stream freed: the round trip of a FIFO too shallow.
    if (kind_of(cause) == path_cause_kind::transfer && before != nullptr &&
        before->cause == stream_path_cause(path_cause_kind::shallow, subject_of(cause))) {
      cause = before->cause;
    }
    add(record.extra_cause, record.extra);
    add(cause, cycles - record.extra);
    if (from == 0) {
      break;
    }
    at = from;
  }
  return path;
}

}  // namespace qrn_runtime
