#include "depth_growth.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "HLS/internal/stream_registry.h"
#include "depth_settings.h"
#include "run_snapshot.h"

namespace qrn_runtime {

using qrn::internal::stream_info;

namespace {

struct growth {
  std::string name;
  std::string type;
  std::uint64_t depth;   // before the run grew it; 0: none
  std::uint64_t needed;  // the capacity it has now
};

// Streams grown so far, by creation serial; guarded by `mutex`.
struct growth_state {
  std::mutex mutex;
  std::map<std::uint64_t, growth> grown;
};

growth_state& state() {
  static auto* current = new growth_state;  // never destroyed: used at exit
  return *current;
}

}  // namespace

bool grow_a_held_stream() {
  qrn::internal::stream_registry_state& registry = qrn::internal::stream_registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  stream_info* smallest = nullptr;
  std::size_t smallest_capacity = qrn::internal::unbounded_capacity;
  for (stream_info* stream = registry.head; stream != nullptr; stream = stream->next()) {
    const stream_access access(*stream, stream_access::attempt::briefly);
    if (!access.granted()) {
      continue;
    }
    const qrn::internal::stream_depth& depth = stream->depth();
    const std::uint64_t held = stream->stats().written - stream->stats().read;
    if (depth.writers_asleep != 0 && depth.full(held) && depth.capacity < smallest_capacity) {
      smallest = stream;
      smallest_capacity = depth.capacity;
    }
  }
  if (smallest == nullptr) {
    return false;
  }
  const stream_access access(*smallest, stream_access::attempt::briefly);
  if (!access.granted()) {
    return false;
  }
  qrn::internal::stream_depth& depth = smallest->depth();
  ++depth.capacity;
  qrn::internal::wake_all_writers(depth);
  growth_state& s = state();
  std::lock_guard<std::mutex> grown_lock(s.mutex);
  const auto known = s.grown.find(smallest->serial());
  if (known != s.grown.end()) {
    known->second.needed = depth.capacity;
  } else {
    s.grown[smallest->serial()] = {stream_name(*smallest),
                                   qrn::internal::demangled(smallest->type().name()),
                                   depth.configured, depth.capacity};
  }
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
    for (const qrn::stream_report& s : report.streams) {
      if (s.depth != 0 && s.peak > s.depth) {
        out << "qrn: warning: stream " << s.name << " (" << s.type << ") peaked at " << s.peak
            << " elements; its declared depth " << s.depth << " would have held up its writer\n";
      }
    }
  }
  write_unmatched_depth_overrides(out);
}

}  // namespace qrn_runtime
