#include "critical_path.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

#include "HLS/internal/settings.h"

namespace qrn_runtime {

path_ring the_path_ring;

namespace {

using qrn::internal::component_clock;

constexpr std::uint64_t largest_window = std::uint64_t{1} << 30;  // keeps `back` below beyond

// The components' clocks, by slot - 1. Never destroyed.
std::vector<const component_clock*>& clocks() {
  static auto* the = new std::vector<const component_clock*>;
  return *the;
}

bool in_window(const path_ring& r, path_event event) {
  return event != 0 && event <= r.count && r.count - event < r.window;
}

const path_event_record& record_of(const path_ring& r, path_event event) {
  return r.slots[(event - 1) % r.window];
}

}  // namespace

void number_clock(component_clock& clock) {
  clocks().push_back(&clock);
  clock.path_slot = static_cast<std::uint32_t>(clocks().size());
}

const component_clock* clock_of_slot(std::uint32_t slot) {
  return slot != 0 && slot <= clocks().size() ? clocks()[slot - 1] : nullptr;
}

void make_path_slot() {
  path_ring& r = the_path_ring;
  if (r.allocated == r.window) {
    r.next = 0;
    return;
  }
  const std::size_t allocated = std::min(r.window, std::max<std::size_t>(4096, 2 * r.allocated));
  auto* slots = new path_event_record[allocated];
  std::copy(r.slots, r.slots + r.allocated, slots);
  delete[] r.slots;
  r.slots = slots;
  r.allocated = allocated;
}

bool read_held_elsewhere(path_event read, std::uint64_t serial) {
  const path_ring& r = the_path_ring;
  if (!in_window(r, read)) {
    return false;
  }
  const path_event_record& record = record_of(r, read);
  const component_clock* reader = clock_of_slot(subject_of(record.cause));
  if (kind_of(record.cause) != path_cause_kind::pace || reader == nullptr || record.back == 0 ||
      record.back == path_beyond || !in_window(r, read - record.back)) {
    return false;
  }
  const path_event_record& anchor = record_of(r, read - record.back);
  if (kind_of(anchor.cause) != path_cause_kind::transfer ||
      anchor.cause == stream_path_cause(path_cause_kind::transfer, serial) ||
      anchor.cycle > record.cycle) {
    return false;
  }
  return record.cycle - anchor.cycle -
             std::min<std::uint64_t>(record.extra, record.cycle - anchor.cycle) <=
         std::max(1U, reader->pace.ii);
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
                 static_cast<unsigned long long>(the_path_ring.window));
    qrn::internal::note_bad_setting();
    return;
  }
  the_path_ring.window = events;
}

critical_path walk_critical_path(path_event last) {
  critical_path path;
  const path_ring& r = the_path_ring;
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
    const path_event_record& record = record_of(r, at);
    const path_event from = record.back == 0 || record.back == path_beyond ? 0 : at - record.back;
    if (record.back != 0 && !in_window(r, from)) {
      path.complete = false;
      path.cycles = end_cycle - record.cycle;
      break;
    }
    const path_event_record* before = from != 0 ? &record_of(r, from) : nullptr;
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
