#include "depth_growth.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <map>
#include <mutex>
#include <string>

#include "HLS/internal/activity.h"
#include "HLS/internal/stream_registry.h"
#include "depth_risks.h"
#include "depth_settings.h"
#include "run_snapshot.h"

namespace qrn_runtime {

using qrn::internal::always_run_record;
using qrn::internal::stream_info;
using steady = std::chrono::steady_clock;

namespace {

struct growth {
  std::string name;
  std::string type;
  std::uint64_t depth;   // before the run grew it; 0: none
  std::uint64_t needed;  // the capacity it has now
};

// Streams grown so far, by creation serial, and when; guarded by `mutex`.
struct growth_state {
  std::mutex mutex;
  std::map<std::uint64_t, growth> grown;
  std::uint64_t growths = 0;
  steady::time_point first;      // of the first growth
  steady::time_point last_said;  // the last progress line, or the first growth
};

growth_state& state() {
  static auto* current = new growth_state;  // never destroyed: used at exit
  return *current;
}

// The full stream each sleeping writer waits on, by its record (null: the
// test bench).
std::map<const always_run_record*, const stream_info*> held_writers() {
  std::map<const always_run_record*, const stream_info*> held;
  const qrn::internal::activity_state& activity = qrn::internal::activity();
  if (const stream_info* full = activity.bench_waiting_to_write.load()) {
    held[nullptr] = full;
  }
  for (const always_run_record* record = activity.always_run_head.load(std::memory_order_acquire);
       record != nullptr; record = record->next) {
    if (const stream_info* full = record->waiting_to_write.load()) {
      held[record] = full;
    }
  }
  return held;
}

// Says, at most once a second once growing has gone on for a second, how far
// it has got. Requires the state's mutex.
void say_how_growing_goes(growth_state& s, const growth& latest) {
  const steady::time_point now = steady::now();
  if (s.growths++ == 0) {
    s.first = now;
    s.last_said = now;
  }
  if (now - s.first >= std::chrono::seconds(1) && now - s.last_said >= std::chrono::seconds(1)) {
    s.last_said = now;
    std::cerr << "qrn: QRN_DEPTH=grow: " << s.growths << " growths so far; stream " << latest.name
              << " now holds " << latest.needed << "\n"
              << std::flush;
  }
}

}  // namespace

bool grow_a_held_stream() {
  qrn::internal::stream_registry_state& registry = qrn::internal::stream_registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  const std::map<const always_run_record*, const stream_info*> held = held_writers();
  // The smallest held stream, first among those whose reader is not itself
  // held by another full stream: growing a stream whose reader cannot go on
  // frees nothing but one more element of its writer.
  struct candidate {
    stream_info* stream = nullptr;
    std::size_t capacity = qrn::internal::unbounded_capacity;
  };
  std::array<candidate, 2> smallest;  // [0]: its reader free or unknown, [1]: any
  for (stream_info* stream = registry.head; stream != nullptr; stream = stream->next()) {
    const stream_access access(*stream, stream_access::attempt::briefly);
    if (!access.granted()) {
      continue;
    }
    const qrn::internal::stream_depth& depth = stream->depth();
    const std::uint64_t held_now = stream->stats().written - stream->stats().read;
    if (depth.writers_asleep == 0 || !depth.full(held_now)) {
      continue;
    }
    const always_run_record* reader = nullptr;
    const bool known = stream->sole_reader(reader);
    const auto reader_held = known ? held.find(reader) : held.end();
    const bool behind = reader_held != held.end() && reader_held->second != stream;
    for (std::size_t kind = behind ? 1 : 0; kind < smallest.size(); ++kind) {
      if (depth.capacity < smallest[kind].capacity) {
        smallest[kind] = {stream, depth.capacity};
      }
    }
  }
  stream_info* chosen = smallest[0].stream != nullptr ? smallest[0].stream : smallest[1].stream;
  if (chosen == nullptr) {
    return false;
  }
  const stream_access access(*chosen, stream_access::attempt::briefly);
  if (!access.granted()) {
    return false;
  }
  qrn::internal::stream_depth& depth = chosen->depth();
  ++depth.capacity;
  qrn::internal::wake_all_writers(depth);
  growth_state& s = state();
  std::lock_guard<std::mutex> grown_lock(s.mutex);
  const auto known = s.grown.find(chosen->serial());
  if (known != s.grown.end()) {
    known->second.needed = depth.capacity;
  } else {
    s.grown[chosen->serial()] = {stream_name(*chosen),
                                 qrn::internal::demangled(chosen->type().name()), depth.configured,
                                 depth.capacity};
  }
  say_how_growing_goes(s, s.grown[chosen->serial()]);
  return true;
}

bool depth_report_wanted() {
  if (depth_mode_setting() != qrn::internal::depth_mode::unbounded) {
    growth_state& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return !s.grown.empty();
  }
  qrn::internal::stream_registry_state& registry = qrn::internal::stream_registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  for (const stream_info* stream = registry.head; stream != nullptr; stream = stream->next()) {
    const stream_access access(*stream, stream_access::attempt::once);
    if (!access.granted() ||
        (stream->depth().configured != 0 && stream->stats().peak > stream->depth().configured)) {
      return true;
    }
  }
  return false;
}

void write_depth_report(std::ostream& out, const qrn::run_report& report) {
  {
    growth_state& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (const auto& entry : s.grown) {
      const growth& g = entry.second;
      out << "qrn: stream " << g.name << " (" << g.type << ") had to grow: depth " << g.depth
          << ", needed " << g.needed << "\n";
    }
  }
  if (depth_mode_setting() == qrn::internal::depth_mode::unbounded) {
    for (const std::size_t at_risk : streams_a_small_depth_can_deadlock(report)) {
      const qrn::stream_report& s = report.streams[at_risk];
      if (s.depth != 0 && s.peak > s.depth) {
        out << "qrn: warning: stream " << s.name << " (" << s.type << ") peaked at " << s.peak
            << " elements; its declared depth " << s.depth << " would have held up its writer\n";
      }
    }
  }
  write_unmatched_depth_overrides(out);
}

}  // namespace qrn_runtime
