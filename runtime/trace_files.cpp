// Writes a recorded trace as a Value Change Dump or as Chrome trace-event
// JSON.
//
// Both formats show each stream's occupancy as one value per change, at
// times that strictly increase per stream: a stream's changes are put in the
// order the stream made them (its operation count), and a change that falls
// on the same nanosecond as the stream's previous one is moved to the next
// nanosecond, so that no change (and no peak) hides behind another.
#include "trace_files.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "HLS/internal/trace.h"
#include "json_string.h"

namespace qrn_runtime {

using qrn::internal::trace_thread_state;

namespace {

// Buffers text and hands it to `file` in large writes.
class file_sink {
 public:
  explicit file_sink(std::FILE* file) : file_(file) { text_.reserve(flush_size * 2); }
  file_sink(const file_sink&) = delete;
  file_sink& operator=(const file_sink&) = delete;

  file_sink& operator<<(const std::string& text) {
    text_ += text;
    return spill();
  }
  file_sink& operator<<(const char* text) {
    text_ += text;
    return spill();
  }
  file_sink& operator<<(std::uint64_t number) {
    std::array<char, 24> digits{};
    std::snprintf(digits.data(), digits.size(), "%" PRIu64, number);
    text_ += digits.data();
    return spill();
  }
  // Nanoseconds as microseconds with three decimals.
  file_sink& microseconds(std::uint64_t ns) {
    std::array<char, 32> digits{};
    std::snprintf(digits.data(), digits.size(), "%" PRIu64 ".%03" PRIu64, ns / 1000, ns % 1000);
    text_ += digits.data();
    return spill();
  }
  bool finish() {
    write_out();
    return ok_ && std::fflush(file_) == 0;
  }

 private:
  static constexpr std::size_t flush_size = 1 << 16;

  file_sink& spill() {
    if (text_.size() >= flush_size) {
      write_out();
    }
    return *this;
  }
  void write_out() {
    if (!text_.empty() && std::fwrite(text_.data(), 1, text_.size(), file_) != text_.size()) {
      ok_ = false;
    }
    text_.clear();
  }

  std::FILE* file_;
  std::string text_;
  bool ok_ = true;
};

// One value change of one signal, at `ns`.
struct change {
  std::uint64_t ns;
  std::size_t signal;
  std::uint64_t order;  // within the signal, at equal times
  std::uint64_t value;
  std::uint64_t stream;  // thread states: the stream polled or slept on
};

struct stream_signal {
  std::uint64_t serial;
  std::string name;
  std::uint64_t initial;  // occupancy before its first recorded change
};

// The signals of a trace and their changes, in file order: streams (by
// creation), then threads (by first record).
struct signal_changes {
  std::vector<stream_signal> streams;
  std::vector<change> changes;  // by time; a stream's in its order
};

std::string stream_name_of(const recorded_trace& trace, std::uint64_t serial) {
  const auto found = trace.stream_names.find(serial);
  return found != trace.stream_names.end() ? found->second : "stream#" + std::to_string(serial);
}

signal_changes collect_changes(const recorded_trace& trace) {
  signal_changes out;
  std::map<std::uint64_t, std::vector<trace_event>> by_stream;
  for (const traced_thread& thread : trace.threads) {
    for (const trace_event& event : thread.events) {
      if (event.kind() == trace_event_kind::occupancy) {
        by_stream[event.subject].push_back(event);
      }
    }
  }
  for (auto& stream : by_stream) {
    std::vector<trace_event>& events = stream.second;
    std::sort(events.begin(), events.end(),
              [](const trace_event& a, const trace_event& b) { return a.payload() < b.payload(); });
    const trace_event& first = events.front();
    const std::uint64_t initial = first.is_write() ? first.value - 1 : first.value + 1;
    const std::size_t signal = out.streams.size();
    out.streams.push_back({stream.first, stream_name_of(trace, stream.first), initial});
    std::uint64_t at = trace.start_ns;  // where the initial value is
    for (const trace_event& event : events) {
      at = std::max(at + 1, event.ns);
      out.changes.push_back({at, signal, event.payload(), event.value, 0});
    }
  }
  std::size_t signal = out.streams.size();
  for (const traced_thread& thread : trace.threads) {
    std::uint64_t order = 0;
    std::uint64_t at = trace.start_ns;
    for (const trace_event& event : thread.events) {
      if (event.kind() == trace_event_kind::thread_state) {
        at = std::max(at + 1, event.ns);
        out.changes.push_back({at, signal, order++, event.value, event.subject});
      }
    }
    ++signal;
  }
  std::sort(out.changes.begin(), out.changes.end(), [](const change& a, const change& b) {
    return a.ns != b.ns           ? a.ns < b.ns
           : a.signal != b.signal ? a.signal < b.signal
                                  : a.order < b.order;
  });
  return out;
}

const char* state_name(std::uint64_t state) {
  switch (static_cast<trace_thread_state>(state)) {
    case trace_thread_state::running:
      return "running";
    case trace_thread_state::polling:
      return "polling";
    case trace_thread_state::asleep:
      return "asleep";
  }
  return "unknown";
}

// ---- Value Change Dump ---------------------------------------------------------

// Identifier code number `index`: printable ASCII 33 to 126, base 94.
std::string vcd_code(std::size_t index) {
  std::string code;
  do {
    code += static_cast<char>('!' + index % 94);
    index /= 94;
  } while (index > 0);
  return code;
}

// `name` made VCD-safe and distinct from every name in `taken`.
std::string unique_vcd_name(const std::string& name, std::set<std::string>& taken) {
  const std::string safe = vcd_safe_name(name);
  std::string unique = safe;
  for (int suffix = 2; !taken.insert(unique).second; ++suffix) {
    unique = safe + "_" + std::to_string(suffix);
  }
  return unique;
}

std::string binary(std::uint64_t value) {
  std::string bits;
  do {
    bits.insert(bits.begin(), static_cast<char>('0' + (value & 1)));
    value >>= 1;
  } while (value != 0);
  return bits;
}

bool write_vcd(file_sink& out, const recorded_trace& trace) {
  const signal_changes signals = collect_changes(trace);
  out << "$version qrn stream trace $end\n$comment "
      << (trace.in_cycles ? "cycles of a timed run (1 ns = 1 cycle)"
                          : "steady-clock nanoseconds since the process started")
      << "; recorded from " << trace.start_ns << " to " << trace.end_ns << " ns, " << trace.events
      << " events";
  if (trace.cut) {
    out << "; cut at " << trace.end_ns << " ns: QRN_TRACE_LIMIT=" << trace.limit
        << " events reached";
  }
  out << " $end\n$timescale 1ns $end\n$scope module streams $end\n";
  std::set<std::string> taken;
  std::size_t code = 0;
  for (const stream_signal& stream : signals.streams) {
    out << "$var integer 32 " << vcd_code(code++) << " " << unique_vcd_name(stream.name, taken)
        << " $end\n";
  }
  out << "$upscope $end\n$scope module threads $end\n";
  taken.clear();
  for (const traced_thread& thread : trace.threads) {
    out << "$var string 1 " << vcd_code(code++) << " " << unique_vcd_name(thread.name, taken)
        << " $end\n";
  }
  out << "$upscope $end\n";
  const std::string cut_code = vcd_code(code++);
  if (trace.cut) {
    out << "$scope module trace $end\n$var wire 1 " << cut_code << " cut $end\n$upscope $end\n";
  }
  out << "$enddefinitions $end\n#" << trace.start_ns << "\n$dumpvars\n";
  for (std::size_t i = 0; i < signals.streams.size(); ++i) {
    out << "b" << binary(signals.streams[i].initial) << " " << vcd_code(i) << "\n";
  }
  if (trace.cut) {
    out << "0" << cut_code << "\n";
  }
  out << "$end\n";
  std::uint64_t now = trace.start_ns;
  for (const change& c : signals.changes) {
    if (c.ns != now) {
      now = c.ns;
      out << "#" << now << "\n";
    }
    if (c.signal < signals.streams.size()) {
      out << "b" << binary(c.value) << " " << vcd_code(c.signal) << "\n";
    } else {
      out << "s" << state_name(c.value);
      if (static_cast<trace_thread_state>(c.value) == trace_thread_state::asleep) {
        out << ":" << vcd_safe_name(stream_name_of(trace, c.stream));
      }
      out << " " << vcd_code(c.signal) << "\n";
    }
  }
  if (trace.end_ns > now) {
    out << "#" << trace.end_ns << "\n";
  }
  if (trace.cut) {
    out << "$comment trace cut here: QRN_TRACE_LIMIT=" << trace.limit << " events reached $end\n1"
        << cut_code << "\n";
  }
  return out.finish();
}

// ---- Chrome trace-event JSON -------------------------------------------------

bool write_json(file_sink& out, const recorded_trace& trace) {
  const signal_changes signals = collect_changes(trace);
  const std::string pid = std::to_string(::getpid());
  out << R"({"displayTimeUnit":"ns","otherData":{"producer":"qrn","clock":")"
      << (trace.in_cycles ? "cycles of a timed run, 1 ns = 1 cycle"
                          : "steady, since the process started")
      << R"(","start_ns":)" << trace.start_ns << ",\"end_ns\":" << trace.end_ns
      << ",\"events\":" << trace.events << ",\"limit\":" << trace.limit
      << ",\"cut\":" << (trace.cut ? "true" : "false") << "},\n\"traceEvents\":[\n";
  out << R"({"ph":"M","name":"process_name","pid":)" << pid
      << R"(,"tid":0,"args":{"name":"qrn streams"}})";
  for (const traced_thread& thread : trace.threads) {
    const std::string tid = std::to_string(thread.ordinal);
    out << ",\n{\"ph\":\"M\",\"name\":\"thread_name\",\"pid\":" << pid << ",\"tid\":" << tid
        << R"(,"args":{"name":)" << json_string(thread.name) << "}}";
    out << ",\n{\"ph\":\"M\",\"name\":\"thread_sort_index\",\"pid\":" << pid << ",\"tid\":" << tid
        << R"(,"args":{"sort_index":)" << tid << "}}";
    const trace_event* asleep = nullptr;
    const auto end_sleep = [&](std::uint64_t at) {
      const std::string stream = stream_name_of(trace, asleep->subject);
      out << ",\n{\"ph\":\"X\",\"cat\":\"sleep\",\"name\":" << json_string("asleep on " + stream)
          << ",\"pid\":" << pid << ",\"tid\":" << tid << ",\"ts\":";
      out.microseconds(asleep->ns) << ",\"dur\":";
      out.microseconds(at - asleep->ns) << R"(,"args":{"stream":)" << json_string(stream) << "}}";
      asleep = nullptr;
    };
    for (const trace_event& event : thread.events) {
      if (event.kind() == trace_event_kind::thread_state) {
        if (asleep != nullptr) {
          end_sleep(std::max(event.ns, asleep->ns));
        }
        if (static_cast<trace_thread_state>(event.value) == trace_thread_state::asleep) {
          asleep = &event;
        }
      } else if (event.kind() == trace_event_kind::burst) {
        out << ",\n{\"ph\":\"X\",\"cat\":\"burst\",\"name\":\"busy\",\"pid\":" << pid
            << ",\"tid\":" << tid << ",\"ts\":";
        out.microseconds(event.ns) << ",\"dur\":";
        out.microseconds(event.value - event.ns)
            << R"(,"args":{"calls":)" << event.subject << ",\"moved\":" << event.payload() << "}}";
      }
    }
    if (asleep != nullptr) {
      end_sleep(std::max(trace.end_ns, asleep->ns));
    }
  }
  for (const auto& stream : signals.streams) {
    out << ",\n{\"ph\":\"C\",\"name\":" << json_string(stream.name) << ",\"pid\":" << pid
        << ",\"ts\":";
    out.microseconds(trace.start_ns) << R"(,"args":{"occupancy":)" << stream.initial << "}}";
  }
  for (const change& c : signals.changes) {
    if (c.signal < signals.streams.size()) {
      out << ",\n{\"ph\":\"C\",\"name\":" << json_string(signals.streams[c.signal].name)
          << ",\"pid\":" << pid << ",\"ts\":";
      out.microseconds(c.ns) << R"(,"args":{"occupancy":)" << c.value << "}}";
    }
  }
  if (trace.cut) {
    out << ",\n{\"ph\":\"i\",\"s\":\"g\",\"name\":\"trace cut: QRN_TRACE_LIMIT=" << trace.limit
        << R"( events reached","pid":)" << pid << R"(,"tid":0,"ts":)";
    out.microseconds(trace.end_ns) << "}";
  }
  out << "\n]}\n";
  return out.finish();
}

}  // namespace

std::string vcd_safe_name(const std::string& name) {
  std::string safe;
  bool gap = false;  // characters dropped since the last one kept
  for (const char c : name) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') {
      if (gap && !safe.empty() && safe.back() != '_') {
        safe += '_';
      }
      safe += c;
      gap = false;
    } else {
      gap = true;
    }
  }
  return safe.empty() ? "_" : safe;
}

bool write_trace_file(std::FILE* out, const recorded_trace& trace) {
  file_sink sink(out);
  return trace.format == trace_format::vcd ? write_vcd(sink, trace) : write_json(sink, trace);
}

}  // namespace qrn_runtime
