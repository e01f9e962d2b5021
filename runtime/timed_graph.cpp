#include "timed_graph.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <iostream>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "HLS/diagnostics.h"
#include "HLS/internal/depth.h"
#include "HLS/internal/settings.h"
#include "settings.h"
#include "timed_graph_format.h"
#include "timed_totals.h"

namespace qrn_runtime {

bool graph_on = false;

namespace {

using qrn::internal::component_clock;
using qrn::internal::stream_info;
namespace format = qrn_graph_format;

// A cycle known as a node's cycle plus a constant.
struct ref {
  std::uint32_t node = 0;
  std::int64_t offset = 0;
};

struct graph_stream {
  std::uint64_t serial = 0;
  std::uint64_t depth = 0;
  std::uint64_t configured = 0;
  std::vector<std::uint32_t> writes;
  std::vector<std::uint32_t> reads;
  std::uint64_t element_bits = 0;
  ref next_write;  // the earliest cycle of the next use of each end
  ref next_read;
  // Who uses each end: a clock's graph_slot, bench_user, or 0 before the first.
  std::uint32_t writer = 0;
  std::uint32_t reader = 0;
};

constexpr std::uint32_t bench_user = UINT32_MAX;

// Notes `user` on an end. The elements of a stream with several writers, or
// the share of each of several readers, come in the emulation's order, which
// other depths may change: the graph cannot follow them.
void note_user(std::uint32_t& end, std::uint32_t user);

struct clock_entry {
  ref now;
  std::uint32_t after = 0;  // its next node comes after this one (a launch by the bench)
};

// Never destroyed: the graph is written by the process's ending, which may
// come after the static destructors.
struct recorder {
  std::string path;
  std::vector<format::graph_node> nodes{format::graph_node{}};  // node 0: cycle 0
  std::vector<format::graph_edge> edges;
  std::vector<std::uint8_t> bench_made{0};
  std::vector<format::graph_poll> polls;
  std::unordered_map<std::uint64_t, std::uint32_t> stream_index;  // by serial
  std::vector<graph_stream> streams;
  std::vector<clock_entry> clocks;  // by component_clock::graph_slot - 1
  ref bench_hold;                   // no bench transfer before this
  ref bench_latest;                 // the bench's latest transfer
  std::uint32_t bench_last = 0;     // the bench's latest node, transfer or not
  std::uint64_t opaque = 0;
  std::uint64_t clock_reads = 0;
  std::mutex depth_names_mutex;                                // guards depth_names
  std::unordered_map<std::uint64_t, std::string> depth_names;  // by serial
};

recorder& graph() {
  static auto* the = new recorder;
  return *the;
}

std::uint64_t value(const ref& r) {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(graph().nodes[r.node].cycle) +
                                    r.offset);
}

graph_stream& stream_of(stream_info& info) {
  recorder& g = graph();
  const auto found = g.stream_index.find(info.serial());
  if (found != g.stream_index.end()) {
    return g.streams[found->second];
  }
  g.stream_index.emplace(info.serial(), static_cast<std::uint32_t>(g.streams.size()));
  g.streams.emplace_back();
  graph_stream& s = g.streams.back();
  s.serial = info.serial();
  const std::size_t capacity = info.depth().capacity;
  s.depth = capacity == qrn::internal::unbounded_capacity ? 0 : capacity;
  s.configured = info.depth().configured;
  return s;
}

graph_stream& written_stream(const qrn::internal::timed_stream_ref& stream) {
  graph_stream& s = stream_of(stream.info);
  s.element_bits = stream.element_bits;
  return s;
}

// The clock's ref, checked against its cycle `before` the operation: a
// clock that moved where no hook saw it (launched at another's clock,
// skipping idle calls) makes the graph opaque from there on.
clock_entry& entry_of(component_clock& clock, std::uint64_t before) {
  recorder& g = graph();
  if (clock.graph_slot == 0) {
    g.clocks.push_back({{0, static_cast<std::int64_t>(before)}, 0});
    clock.graph_slot = static_cast<std::uint32_t>(g.clocks.size());
    g.opaque += before != 0 ? 1 : 0;
  }
  clock_entry& entry = g.clocks[clock.graph_slot - 1];
  if (value(entry.now) != before) {
    ++g.opaque;
    entry.now = {0, static_cast<std::int64_t>(before)};
  }
  return entry;
}

// The clock's ref, for its next node: see entry_of. Takes the order edge
// of its launch, which `order` then holds.
ref& clock_of(component_clock& clock, std::uint64_t before, std::uint32_t& order) {
  clock_entry& entry = entry_of(clock, before);
  order = entry.after;
  entry.after = 0;
  return entry.now;
}

// A new node at `cycle`, the latest of `inputs` and `room` (the depth's
// input, not stored), plus `post` cycles where the bench's stall model held
// it (inferred for a bench node, none for a component's).
std::uint32_t add_node(std::initializer_list<ref> inputs, std::uint64_t room, bool bench,
                       std::uint64_t cycle, std::uint32_t order = 0) {
  recorder& g = graph();
  format::graph_node node;
  node.first_edge = static_cast<std::uint32_t>(g.edges.size());
  node.cycle = cycle;
  if (bench) {
    order = g.bench_last;
  }
  if (order != 0) {
    g.edges.push_back({order, format::order_only});
  }
  std::uint64_t latest = room;
  for (const ref& input : inputs) {
    if (input.node == 0 && input.offset <= 0) {
      continue;  // never later than cycle 0
    }
    if (input.offset > std::numeric_limits<std::int32_t>::max() ||
        input.offset < std::numeric_limits<std::int32_t>::min()) {
      ++g.opaque;
      continue;
    }
    g.edges.push_back({input.node, static_cast<std::int32_t>(input.offset)});
    latest = std::max(latest, value(input));
  }
  if (cycle < latest || (!bench && cycle != latest) ||
      cycle - latest > std::numeric_limits<std::uint32_t>::max()) {
    ++g.opaque;  // a rule that no edge explains
  } else {
    node.post = static_cast<std::uint32_t>(cycle - latest);
  }
  g.nodes.push_back(node);
  g.bench_made.push_back(bench ? 1 : 0);
  const auto made = static_cast<std::uint32_t>(g.nodes.size() - 1);
  if (bench) {
    g.bench_last = made;
  }
  return made;
}

void note_user(std::uint32_t& end, std::uint32_t user) {
  if (end != 0 && end != user) {
    ++graph().opaque;
  }
  end = user;
}

// The cycle that room for the next write of `s` comes at: one after the
// read that frees its slot; 0 when the FIFO never held its depth.
std::uint64_t room_of(const graph_stream& s) {
  const std::size_t k = s.writes.size();
  if (s.depth == 0 || k < s.depth || k - s.depth >= s.reads.size()) {
    return 0;
  }
  return graph().nodes[s.reads[k - s.depth]].cycle + 1;
}

ref readable_of(const graph_stream& s) {
  const std::size_t k = s.reads.size();
  return k < s.writes.size() ? ref{s.writes[k], 1} : ref{};
}

std::int64_t signed_cycles(std::uint64_t cycles) { return static_cast<std::int64_t>(cycles); }

// The display names of the streams by serial, as the run report gives them.
std::map<std::uint64_t, std::string> names_by_serial() {
  const qrn::run_report report = qrn::snapshot_run();
  std::vector<std::uint64_t> serials;
  {
    qrn::internal::stream_registry_state& registry = qrn::internal::stream_registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (registry.retired != nullptr) {
      for (const qrn::internal::retired_stream& stream : *registry.retired) {
        serials.push_back(stream.serial);
      }
    }
    for (stream_info* stream = registry.head; stream != nullptr; stream = stream->next()) {
      serials.push_back(stream->serial());
    }
  }
  std::sort(serials.begin(), serials.end());  // the report's order
  std::map<std::uint64_t, std::string> names;
  for (std::size_t i = 0; i < serials.size() && i < report.streams.size(); ++i) {
    names.emplace(serials[i], report.streams[i].name);
  }
  return names;
}

template <typename T>
void put(std::FILE* file, const T* items, std::size_t count) {
  if (count != 0) {
    std::fwrite(items, sizeof(T), count, file);
  }
}

}  // namespace

void configure_timed_graph() {
  const qrn::internal::setting value = qrn::internal::setting_value("QRN_TIME_GRAPH");
  if (!value || *value.value == '\0') {
    return;
  }
  const std::string reason = reason_path_is_unwritable(value.value);
  if (!reason.empty()) {
    std::cerr << "qrn: cannot write the event graph to " << value.value << " (" << value.source()
              << "): " << reason << "; not recording\n";
    return;
  }
  graph().path = value.value;
  graph_on = true;
}

void write_timed_graph() {
  if (!graph_on) {
    return;
  }
  graph_on = false;
  recorder& g = graph();
  if (!qrn::internal::timed_run()) {
    std::cerr << "qrn: no event graph written to " << g.path
              << " (QRN_TIME_GRAPH): the run is not timed (QRN_TIME=cycles)\n";
    return;
  }
  const std::map<std::uint64_t, std::string> names = names_by_serial();
  std::FILE* file = std::fopen(g.path.c_str(), "wb");
  if (file == nullptr) {
    std::cerr << "qrn: could not write the event graph to " << g.path << " (QRN_TIME_GRAPH)\n";
    return;
  }
  format::graph_header header;
  header.magic = format::magic;
  header.nodes = g.nodes.size();
  header.edges = g.edges.size();
  header.streams = g.streams.size();
  header.polls = g.polls.size();
  header.opaque = g.opaque;
  header.cycles = design_totals().cycles;
  header.clock_reads = g.clock_reads;
  put(file, &header, 1);
  put(file, g.nodes.data(), g.nodes.size());
  put(file, g.edges.data(), g.edges.size());
  put(file, g.bench_made.data(), g.bench_made.size());
  for (const graph_stream& s : g.streams) {
    const auto name = names.find(s.serial);
    const std::string text = name != names.end() ? name->second : std::string();
    const auto depth_name = g.depth_names.find(s.serial);
    const std::string named = depth_name != g.depth_names.end() ? depth_name->second : "";
    format::graph_stream_header stream;
    stream.name_bytes = static_cast<std::uint32_t>(text.size());
    stream.depth_name_bytes = named.size();
    stream.element_bits = static_cast<std::uint32_t>(s.element_bits);
    stream.depth = s.depth;
    stream.configured = s.configured;
    stream.writes = s.writes.size();
    stream.reads = s.reads.size();
    put(file, &stream, 1);
    put(file, text.data(), text.size());
    put(file, named.data(), named.size());
    put(file, s.writes.data(), s.writes.size());
    put(file, s.reads.data(), s.reads.size());
  }
  put(file, g.polls.data(), g.polls.size());
  if (std::fclose(file) != 0) {
    std::cerr << "qrn: could not write the event graph to " << g.path << " (QRN_TIME_GRAPH)\n";
  }
}

void graph_depth_named(std::uint64_t serial, const std::string& name) {
  recorder& g = graph();
  const std::lock_guard<std::mutex> lock(g.depth_names_mutex);
  g.depth_names[serial] = name;
}

void graph_write(const qrn::internal::timed_stream_ref& stream, component_clock& clock,
                 std::uint64_t before, std::uint64_t stage, std::uint64_t spacing,
                 std::uint64_t entering) {
  graph_stream& s = written_stream(stream);
  std::uint32_t order = 0;
  ref& now = clock_of(clock, before, order);
  const std::int64_t offset = signed_cycles(stage);
  const std::uint32_t node =
      add_node({{now.node, now.offset + offset}, s.next_write}, room_of(s), false, entering, order);
  s.writes.push_back(node);
  note_user(s.writer, clock.graph_slot);
  now = {node, -offset};
  s.next_write = {node, signed_cycles(spacing)};
}

void graph_read(stream_info& stream, component_clock& clock, std::uint64_t before,
                std::uint64_t stage, std::uint64_t spacing, std::uint64_t cycle) {
  graph_stream& s = stream_of(stream);
  std::uint32_t order = 0;
  ref& now = clock_of(clock, before, order);
  const std::int64_t offset = signed_cycles(stage);
  const std::uint32_t node = add_node(
      {{now.node, now.offset + offset}, s.next_read, readable_of(s)}, 0, false, cycle, order);
  s.reads.push_back(node);
  note_user(s.reader, clock.graph_slot);
  now = {node, -offset};
  s.next_read = {node, signed_cycles(spacing)};
}

void graph_bench_write(const qrn::internal::timed_stream_ref& stream, std::uint64_t entering) {
  recorder& g = graph();
  graph_stream& s = written_stream(stream);
  const std::uint32_t node = add_node({s.next_write, g.bench_hold}, room_of(s), true, entering);
  s.writes.push_back(node);
  note_user(s.writer, bench_user);
  s.next_write = {node, 1};
  g.bench_latest = {node, 0};
}

void graph_bench_read(stream_info& stream, std::uint64_t cycle) {
  recorder& g = graph();
  graph_stream& s = stream_of(stream);
  const std::uint32_t node = add_node({readable_of(s), s.next_read, g.bench_hold}, 0, true, cycle);
  s.reads.push_back(node);
  note_user(s.reader, bench_user);
  s.next_read = {node, 1};
  g.bench_latest = {node, 0};
}

void graph_unwrite(stream_info& stream) {
  stream_of(stream).writes.pop_back();
  ++graph().opaque;
}

void graph_poll(stream_info& stream, component_clock& clock, std::uint64_t before, bool readable,
                bool answer, std::uint64_t stage, std::uint64_t spacing, std::uint64_t at) {
  recorder& g = graph();
  graph_stream& s = stream_of(stream);
  std::uint32_t order = 0;
  ref& now = clock_of(clock, before, order);
  ref& end = readable ? s.next_read : s.next_write;
  const std::int64_t offset = signed_cycles(stage);
  const std::uint32_t node = add_node({{now.node, now.offset + offset}, end}, 0, false, at, order);
  format::graph_poll poll;
  poll.stream = g.stream_index.at(stream.serial());
  poll.node = node;
  poll.index = readable ? s.reads.size() : s.writes.size();
  poll.offset = 0;  // the node is the cycle the poll asks about
  poll.readable = readable ? 1 : 0;
  poll.answer = answer ? 1 : 0;
  g.polls.push_back(poll);
  if (!answer) {
    now = {node, -offset};
    end = {node, signed_cycles(spacing)};
  }
}

void graph_bench_poll() { ++graph().opaque; }

void graph_clock_spent(component_clock& clock, std::uint64_t before, std::uint64_t cycles) {
  entry_of(clock, before).now.offset += signed_cycles(cycles);
}

void graph_launched(component_clock& clock, component_clock* launcher) {
  recorder& g = graph();
  clock_entry started;
  if (launcher != nullptr) {
    started.now = entry_of(*launcher, launcher->now).now;
  } else {
    started.after = g.bench_last;
  }
  if (clock.graph_slot == 0) {
    g.clocks.push_back(started);
    clock.graph_slot = static_cast<std::uint32_t>(g.clocks.size());
  } else {
    g.clocks[clock.graph_slot - 1] = started;
  }
}

void graph_bench_spent(std::uint64_t hold) {
  recorder& g = graph();
  g.bench_hold = {add_node({g.bench_hold, g.bench_latest}, 0, true, hold), 0};
}

void graph_clock_read() { ++graph().clock_reads; }

}  // namespace qrn_runtime
