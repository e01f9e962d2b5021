#include "depth_settings.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "HLS/internal/scheduler.h"
#include "HLS/internal/settings.h"
#include "HLS/internal/stream_registry.h"
#include "run_snapshot.h"
#include "timed_graph.h"

namespace qrn_runtime {

using qrn::internal::depth_mode;
using qrn::internal::setting;
using qrn::internal::setting_value;
using qrn::internal::stream_info;

namespace {

// Written once by configure_depths(), before the hook is installed; the
// matched names are guarded by `mutex`.
struct depth_setting_state {
  depth_mode mode = depth_mode::unbounded;
  std::uint64_t default_depth = 0;                 // 0: none
  std::map<std::string, std::uint64_t> overrides;  // by stream name
  std::mutex mutex;
  std::set<std::string> matched;  // override names some stream has had
};

depth_setting_state& state() {
  static auto* current = new depth_setting_state;  // never destroyed: used at exit
  return *current;
}

std::string lower_case(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// A depth of at least one written in decimal, or 0 when `text` is none.
std::uint64_t parse_depth(const std::string& text) {
  if (text.empty() || text.size() > 18 ||
      !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
    return 0;
  }
  return std::stoull(text);
}

void read_mode(depth_setting_state& s) {
  const setting value = setting_value("QRN_DEPTH");
  if (!value) {
    // A timed run holds writers by the depths the design declares.
    const setting time = setting_value("QRN_TIME");
    if (time && lower_case(time.value) == "cycles") {
      s.mode = depth_mode::declared;
    }
    return;
  }
  const std::string mode = lower_case(value.value);
  if (mode == "declared") {
    s.mode = depth_mode::declared;
  } else if (mode == "grow") {
    s.mode = depth_mode::grow;
  } else if (mode != "unbounded") {
    std::cerr << "qrn: ignoring QRN_DEPTH=" << value.value << value.note()
              << ": expected unbounded, declared or grow; using unbounded\n";
    qrn::internal::note_bad_setting();
  }
}

void read_default(depth_setting_state& s) {
  if (const setting value = setting_value("QRN_DEPTH_DEFAULT")) {
    s.default_depth = parse_depth(value.value);
    if (s.default_depth == 0) {
      std::cerr << "qrn: ignoring QRN_DEPTH_DEFAULT=" << value.value << value.note()
                << ": expected a depth of at least 1; streams without a declared depth stay "
                   "unbounded\n";
      qrn::internal::note_bad_setting();
    }
  }
}

void read_overrides(depth_setting_state& s) {
  const setting value = setting_value("QRN_DEPTH_OVERRIDE");
  if (!value) {
    return;
  }
  const std::string list(value.value);
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t end = std::min(list.find(',', start), list.size());
    const std::string entry = list.substr(start, end - start);
    const std::size_t equals = entry.rfind('=');
    const std::uint64_t depth =
        equals == std::string::npos ? 0 : parse_depth(entry.substr(equals + 1));
    if (depth == 0 || equals == 0) {
      std::cerr << "qrn: ignoring \"" << entry << "\" in QRN_DEPTH_OVERRIDE" << value.note()
                << ": expected NAME=DEPTH with a depth of at least 1\n";
      qrn::internal::note_bad_setting();
    } else {
      s.overrides[entry.substr(0, equals)] = depth;
    }
    start = end + 1;
  }
}

// Requires the stream's mutex. `name` is the stream's display name, or empty
// when no override can apply and no event graph records it.
void apply_depth(stream_info& stream, const std::string& name) {
  depth_setting_state& s = state();
  if (graph_recording()) {
    graph_depth_named(stream.serial(), name);
  }
  qrn::internal::stream_depth& depth = stream.depth();
  const int declared = stream.declared().buffer;
  depth.configured = declared > 0 ? static_cast<std::uint64_t>(declared) : s.default_depth;
  const auto override = s.overrides.find(name);
  if (override != s.overrides.end()) {
    depth.configured = override->second;
    std::lock_guard<std::mutex> lock(s.mutex);
    s.matched.insert(name);
  }
  if (s.mode != depth_mode::unbounded) {
    depth.capacity = depth.configured != 0 ? depth.configured : qrn::internal::unbounded_capacity;
    qrn::internal::wake_all_writers(depth);  // a larger depth may let them in
  }
}

// The name an override would use, or empty when there are no overrides
// and no event graph records it. Requires the registry's mutex.
std::string override_name(stream_info& stream) {
  return state().overrides.empty() && !graph_recording() ? std::string() : stream_name(stream);
}

void configure_stream(stream_info& stream) {
  std::string name;
  {
    std::lock_guard<std::mutex> lock(qrn::internal::stream_registry().mutex);
    name = override_name(stream);
  }
  std::lock_guard<std::mutex> lock(stream.mutex());
  apply_depth(stream, name);
}

}  // namespace

void configure_depths() {
  depth_setting_state& s = state();
  read_mode(s);
  read_default(s);
  read_overrides(s);
  if (s.mode == depth_mode::grow && !qrn::internal::fiber_scheduling() &&
      qrn::internal::diagnostic_hooks().look_for_hang.load() == nullptr) {
    std::cerr << "qrn: QRN_DEPTH=grow needs the hang looks (QRN_HANG_AFTER above 0) to see a "
                 "stuck run; streams will not grow\n";
  }
  qrn::internal::depth_settings().mode.store(static_cast<int>(s.mode));
  qrn::internal::depth_settings().configure.store(&configure_stream);
  qrn::internal::stream_registry_state& registry = qrn::internal::stream_registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  for (stream_info* stream = registry.head; stream != nullptr; stream = stream->next()) {
    const std::string name = override_name(*stream);
    const stream_access access(*stream, stream_access::attempt::briefly);
    if (access.granted()) {
      apply_depth(*stream, name);
    }
  }
}

depth_mode depth_mode_setting() { return state().mode; }

void write_unmatched_depth_overrides(std::ostream& out) {
  depth_setting_state& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  for (const auto& override : s.overrides) {
    if (s.matched.count(override.first) == 0) {
      out << "qrn: QRN_DEPTH_OVERRIDE: no stream is named " << override.first << "; its depth "
          << override.second << " was not used\n";
    }
  }
}

}  // namespace qrn_runtime
