#include "event_graph.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <queue>

namespace qrn_tools {

namespace format = qrn_graph_format;

namespace {

// Reads the file's parts in order; false once it runs short.
class reader {
 public:
  explicit reader(std::string bytes) : bytes_(std::move(bytes)) {}

  template <typename T>
  bool take(T* into, std::size_t count) {
    const std::size_t size = sizeof(T) * count;
    if (bytes_.size() - at_ < size) {
      return false;
    }
    if (size != 0) {
      std::memcpy(static_cast<void*>(into), bytes_.data() + at_, size);
    }
    at_ += size;
    return true;
  }
  template <typename T>
  bool take(std::vector<T>& into, std::uint64_t count) {
    if (count > (bytes_.size() - at_) / sizeof(T)) {
      return false;
    }
    into.resize(count);
    return take(into.data(), into.size());
  }
  bool done() const { return at_ == bytes_.size(); }

 private:
  std::string bytes_;
  std::size_t at_ = 0;
};

constexpr std::uint32_t never = UINT32_MAX - 1;  // a room input the recorded run never made

}  // namespace

std::optional<event_graph> event_graph::load(const std::string& path, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot read the event graph " + path;
    return std::nullopt;
  }
  std::string bytes;
  file.seekg(0, std::ios::end);
  bytes.resize(static_cast<std::size_t>(std::max<std::streamoff>(file.tellg(), 0)));
  file.seekg(0);
  file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) {
    error = "cannot read the event graph " + path;
    return std::nullopt;
  }
  reader in{std::move(bytes)};
  event_graph g;
  error = "the event graph " + path + " is damaged";
  if (!in.take(&g.header_, 1) || g.header_.magic != format::magic ||
      !in.take(g.nodes_, g.header_.nodes) || !in.take(g.edges_, g.header_.edges) ||
      !in.take(g.bench_made_, g.header_.nodes) || g.nodes_.empty() ||
      g.nodes_.front().first_edge != 0) {
    return std::nullopt;
  }
  for (std::uint64_t i = 0; i < g.header_.streams; ++i) {
    format::graph_stream_header header;
    graph_stream s;
    if (!in.take(&header, 1)) {
      return std::nullopt;
    }
    std::vector<char> name;
    std::vector<char> depth_name;
    if (!in.take(name, header.name_bytes) || !in.take(depth_name, header.depth_name_bytes) ||
        !in.take(s.writes, header.writes) || !in.take(s.reads, header.reads)) {
      return std::nullopt;
    }
    s.name.assign(name.begin(), name.end());
    s.depth_name.assign(depth_name.begin(), depth_name.end());
    s.depth = header.depth;
    s.configured = header.configured;
    s.element_bits = header.element_bits;
    g.streams_.push_back(std::move(s));
  }
  if (!in.take(g.polls_, g.header_.polls) || !in.done()) {
    return std::nullopt;
  }
  const std::size_t n = g.nodes_.size();
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t end = i + 1 < n ? g.nodes_[i + 1].first_edge : g.edges_.size();
    if (g.nodes_[i].first_edge > end || end > g.edges_.size()) {
      return std::nullopt;
    }
    for (std::uint32_t e = g.nodes_[i].first_edge; e < end; ++e) {
      if (g.edges_[e].from >= i) {
        return std::nullopt;  // static edges come from earlier nodes
      }
    }
  }
  g.roles_.resize(n);
  for (std::uint32_t s = 0; s < g.streams_.size(); ++s) {
    for (const bool write : {true, false}) {
      const std::vector<std::uint32_t>& nodes = write ? g.streams_[s].writes : g.streams_[s].reads;
      for (std::uint32_t k = 0; k < nodes.size(); ++k) {
        if (nodes[k] == 0 || nodes[k] >= n) {
          return std::nullopt;
        }
        g.roles_[nodes[k]] = {s, k, write};
        g.streams_[s].bench_end = g.streams_[s].bench_end || g.bench_made_[nodes[k]] != 0;
      }
    }
  }
  for (const format::graph_poll& poll : g.polls_) {
    if (poll.stream >= g.streams_.size() || poll.node >= n) {
      return std::nullopt;
    }
  }
  g.out_first_.assign(n + 1, 0);
  for (const format::graph_edge& edge : g.edges_) {
    ++g.out_first_[edge.from + 1];
  }
  for (std::size_t i = 0; i < n; ++i) {
    g.out_first_[i + 1] += g.out_first_[i];
  }
  g.out_.resize(g.edges_.size());
  std::vector<std::uint32_t> next(g.out_first_.begin(), g.out_first_.end() - 1);
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t end = i + 1 < n ? g.nodes_[i + 1].first_edge : g.edges_.size();
    for (std::uint32_t e = g.nodes_[i].first_edge; e < end; ++e) {
      g.out_[next[g.edges_[e].from]++] = i;
    }
  }
  error.clear();
  return g;
}

std::vector<std::uint64_t> event_graph::recorded_depths() const {
  std::vector<std::uint64_t> depths;
  for (const graph_stream& s : streams_) {
    depths.push_back(s.depth);
  }
  return depths;
}

std::size_t event_graph::bytes() const {
  std::size_t total = nodes_.size() * (sizeof(format::graph_node) + 1 + sizeof(role)) +
                      edges_.size() * sizeof(format::graph_edge) +
                      (out_first_.size() + out_.size()) * sizeof(std::uint32_t) +
                      polls_.size() * sizeof(format::graph_poll);
  for (const graph_stream& s : streams_) {
    total += (s.writes.size() + s.reads.size()) * sizeof(std::uint32_t);
  }
  return total;
}

// The read a write node waits for at `depths`: none, `never`, or its node.
std::uint32_t event_graph::room_input(std::uint32_t node,
                                      const std::vector<std::uint64_t>& depths) const {
  const role& r = roles_[node];
  if (r.stream == none || !r.write) {
    return none;
  }
  const std::uint64_t depth = depths[r.stream];
  if (depth == 0 || r.index < depth) {
    return none;
  }
  const std::vector<std::uint32_t>& reads = streams_[r.stream].reads;
  return r.index - depth < reads.size() ? reads[r.index - depth] : never;
}

valuation event_graph::value(const std::vector<std::uint64_t>& depths) const {
  static std::atomic<std::uint64_t> made{0};
  valuation v;
  v.depths = depths;
  std::vector<std::uint32_t> order;  // topological
  v.result = evaluate(depths, v.cycle, &order);
  v.id = ++made;
  if (v.result.verdict != evaluation::kind::cycles || order.size() != nodes_.size()) {
    return v;
  }
  v.bench_before.assign(nodes_.size(), 0);
  v.bench_after.assign(nodes_.size(), UINT32_MAX);
  for (const std::uint32_t node : order) {
    std::uint32_t& before = v.bench_before[node];
    before = bench_made_[node] != 0 ? node + 1 : 0;
    const std::uint32_t end =
        node + 1 < nodes_.size() ? nodes_[node + 1].first_edge : edges_.size();
    for (std::uint32_t e = nodes_[node].first_edge; e < end; ++e) {
      before = std::max(before, v.bench_before[edges_[e].from]);
    }
    const std::uint32_t room = room_input(node, depths);
    if (room != none && room != never) {
      before = std::max(before, v.bench_before[room]);
    }
  }
  for (auto at = order.rbegin(); at != order.rend(); ++at) {
    const std::uint32_t node = *at;
    std::uint32_t& after = v.bench_after[node];
    after = bench_made_[node] != 0 ? node + 1 : UINT32_MAX;
    for (std::uint32_t o = out_first_[node]; o < out_first_[node + 1]; ++o) {
      after = std::min(after, v.bench_after[out_[o]]);
    }
    const role& r = roles_[node];
    if (r.stream != none && !r.write && depths[r.stream] != 0 &&
        r.index + depths[r.stream] < streams_[r.stream].writes.size()) {
      after = std::min(after, v.bench_after[streams_[r.stream].writes[r.index + depths[r.stream]]]);
    }
  }
  return v;
}

// The latest of a node's inputs, `room` (none, or the read a write waits
// for at the depths valued) among them, plus its post.
inline std::int64_t event_graph::cycle_of(std::uint32_t node, std::uint32_t room,
                                          const std::vector<std::int64_t>& cycle) const {
  std::int64_t latest = 0;
  const std::uint32_t end = node + 1 < nodes_.size() ? nodes_[node + 1].first_edge : edges_.size();
  for (std::uint32_t e = nodes_[node].first_edge; e < end; ++e) {
    if (edges_[e].weight != format::order_only) {
      latest = std::max(latest, cycle[edges_[e].from] + edges_[e].weight);
    }
  }
  if (room != none) {
    latest = std::max(latest, cycle[room] + 1);
  }
  return latest + nodes_[node].post;
}

namespace {

// One thread's scratch space for whole passes, kept from pass to pass so
// that a pass over a large graph neither allocates nor touches new pages.
struct pass_space {
  std::vector<std::uint32_t> waiting;  // by node put off: inputs not valued yet
  std::vector<std::uint32_t> room;     // by write node: the read it waits for; none; never
  std::vector<std::uint32_t> frees;    // by read node: the write waiting for it; none
  std::vector<std::uint32_t> late;     // put off, and every input valued since
};

}  // namespace

evaluation event_graph::evaluate(const std::vector<std::uint64_t>& depths) const {
  thread_local std::vector<std::int64_t> cycle;
  return evaluate(depths, cycle);
}

evaluation event_graph::evaluate(const std::vector<std::uint64_t>& depths,
                                 std::vector<std::int64_t>& cycle,
                                 std::vector<std::uint32_t>* order) const {
  evaluation result;
  if (header_.opaque != 0) {
    result.cycles = header_.cycles;
    if (depths != recorded_depths()) {
      result.verdict = evaluation::kind::needs_run;
      result.why =
          "the graph cannot follow the recorded run: polling, a shared stream or a clock move";
    }
    return result;
  }
  const std::size_t n = nodes_.size();
  thread_local pass_space space;
  space.room.assign(n, none);
  space.frees.assign(n, none);
  for (std::size_t s = 0; s < streams_.size(); ++s) {
    const std::vector<std::uint32_t>& writes = streams_[s].writes;
    const std::vector<std::uint32_t>& reads = streams_[s].reads;
    for (std::uint64_t k = depths[s]; depths[s] != 0 && k < writes.size(); ++k) {
      const bool read = k - depths[s] < reads.size();  // else the run never made it
      space.room[writes[k]] = read ? reads[k - depths[s]] : never;
      if (read) {
        space.frees[reads[k - depths[s]]] = writes[k];
      }
    }
  }
  // Nodes are valued in index order, the recorded order, in which every
  // static input comes first: the inputs a node reads were mostly valued a
  // moment ago. A node whose room input comes later (or never), or one of
  // whose inputs was put off, is put off with the count of inputs it waits
  // for, and valued as soon as the last of them is. Only a node valued late
  // can hold up a successor the sweep has passed, besides the write a read
  // frees.
  constexpr std::int64_t unvalued = -1;
  cycle.assign(n, unvalued);
  std::vector<std::uint32_t>& waiting = space.waiting;  // > 0: put off
  waiting.assign(n, 0);
  std::vector<std::uint32_t>& late = space.late;
  std::size_t done = 0;
  // Values `v` when every input is valued, else puts it off. Returns
  // whether it valued it.
  const auto try_value = [&](std::uint32_t v) {
    std::int64_t latest = 0;
    std::uint32_t missing = 0;
    const std::uint32_t end = v + 1 < n ? nodes_[v + 1].first_edge : edges_.size();
    for (std::uint32_t e = nodes_[v].first_edge; e < end; ++e) {
      const std::int64_t input = cycle[edges_[e].from];
      missing += input == unvalued ? 1 : 0;
      if (edges_[e].weight != format::order_only) {
        latest = std::max(latest, input + edges_[e].weight);
      }
    }
    if (const std::uint32_t room = space.room[v]; room != none) {
      if (room == never || cycle[room] == unvalued) {
        ++missing;
      } else {
        latest = std::max(latest, cycle[room] + 1);
      }
    }
    if (missing != 0) {
      waiting[v] = missing;
      return false;
    }
    cycle[v] = latest + nodes_[v].post;
    if (order != nullptr) {
      order->push_back(v);
    }
    ++done;
    return true;
  };
  const auto release = [&](std::uint32_t node, std::uint32_t next) {
    if (node <= next && waiting[node] != 0 && --waiting[node] == 0) {
      late.push_back(node);
    }
  };
  for (std::uint32_t next = 0; next < n; ++next) {
    // `next`, then whatever its valuing lets go (one call site: inlined).
    for (std::uint32_t v = next;;) {
      if (try_value(v)) {
        if (v != next) {
          for (std::uint32_t o = out_first_[v]; o < out_first_[v + 1]; ++o) {
            release(out_[o], next);
          }
        }
        release(space.frees[v], next);
      }
      if (late.empty()) {
        break;
      }
      v = late.back();  // every input is valued now
      late.pop_back();
    }
  }
  if (done < n) {
    std::vector<std::uint8_t> ran(n, 0);
    bool bench_stuck = false;
    for (std::size_t i = 0; i < n; ++i) {
      ran[i] = cycle[i] != unvalued ? 1 : 0;
      bench_stuck = bench_stuck || (ran[i] == 0 && bench_made_[i] != 0);
    }
    if (bench_stuck) {
      result.cycle_streams = deadlock_cycle(ran, depths);
    }
    if (!result.cycle_streams.empty()) {
      result.verdict = evaluation::kind::deadlock;
    } else {
      result.verdict = evaluation::kind::needs_run;
      result.why = "components stop early";
    }
    return result;
  }
  check_polls(depths, cycle, result);
  if (result.verdict != evaluation::kind::cycles) {
    return result;
  }
  std::int64_t last = -1;
  for (std::size_t i = 0; i < n; ++i) {
    if (roles_[i].stream != none) {
      last = std::max(last, cycle[i]);
    }
  }
  result.cycles = static_cast<std::uint64_t>(last + 1);
  return result;
}

void event_graph::check_polls(const std::vector<std::uint64_t>& depths,
                              const std::vector<std::int64_t>& cycle, evaluation& result) const {
  for (const format::graph_poll& poll : polls_) {
    const graph_stream& s = streams_[poll.stream];
    bool answer = false;
    if (poll.readable != 0) {
      answer = poll.index < s.writes.size() && cycle[s.writes[poll.index]] + 1 <= cycle[poll.node];
    } else {
      const std::uint64_t depth = depths[poll.stream];
      answer = depth == 0 || poll.index < depth ||
               (poll.index - depth < s.reads.size() &&
                cycle[s.reads[poll.index - depth]] + 1 <= cycle[poll.node] + poll.offset);
    }
    if (answer != (poll.answer != 0)) {
      result.verdict = evaluation::kind::needs_run;
      result.why = "a non-blocking operation on " + s.name + " would answer otherwise";
      return;
    }
  }
}

// Whether the inputs among `nodes` (those whose cycle differs from `base`)
// at `depths` make a cycle: an iterative depth-first walk, which marks the
// nodes in bits 1 (on the walk) and 2 (done) of `marks` and clears them.
bool event_graph::circles(const std::vector<std::uint32_t>& nodes,
                          const std::vector<std::uint64_t>& depths,
                          const std::vector<std::int64_t>& base,
                          const std::vector<std::int64_t>& cycle,
                          std::vector<std::uint8_t>& marks) const {
  constexpr std::uint8_t walking = 2;
  constexpr std::uint8_t done = 4;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> walk;  // node, inputs tried
  const auto moved = [&](std::uint32_t node) {
    return node != none && node != never && cycle[node] != base[node];
  };
  bool found = false;
  for (const std::uint32_t start : nodes) {
    if ((marks[start] & (walking | done)) != 0) {
      continue;
    }
    walk.emplace_back(start, 0);
    marks[start] |= walking;
    while (!walk.empty() && !found) {
      const std::uint32_t node = walk.back().first;
      const std::uint32_t i = walk.back().second++;
      const std::uint32_t first = nodes_[node].first_edge;
      const std::uint32_t end =
          node + 1 < nodes_.size() ? nodes_[node + 1].first_edge : edges_.size();
      if (first + i > end) {  // its static inputs, then its room input
        marks[node] = static_cast<std::uint8_t>((marks[node] & ~walking) | done);
        walk.pop_back();
        continue;
      }
      const std::uint32_t next =
          first + i < end ? edges_[first + i].from : room_input(node, depths);
      if (!moved(next) || (marks[next] & done) != 0) {
        continue;
      }
      if ((marks[next] & walking) != 0) {
        found = true;
      } else {
        marks[next] |= walking;
        walk.emplace_back(next, 0);
      }
    }
    walk.clear();
    if (found) {
      break;
    }
  }
  for (const std::uint32_t node : nodes) {
    marks[node] &= 1;
  }
  return found;
}

namespace {

// One thread's scratch space for incremental evaluation: the cycles of the
// base it was last filled from, put back after each use.
struct scratch_space {
  std::uint64_t base = 0;  // valuation::id
  std::vector<std::int64_t> cycle;
  std::vector<std::uint8_t> queued;
  std::vector<std::uint32_t> touched;  // nodes whose cycle differs from the base's
};

}  // namespace

evaluation event_graph::evaluate(const std::vector<std::uint64_t>& depths,
                                 const valuation& base) const {
  const auto within = [](std::uint64_t depth, std::uint64_t limit) {
    return limit == 0 || (depth != 0 && depth <= limit);
  };
  bool smaller = base.result.verdict == evaluation::kind::cycles && header_.opaque == 0 &&
                 base.cycle.size() == nodes_.size() && base.bench_after.size() == nodes_.size() &&
                 depths.size() == base.depths.size();
  for (std::size_t s = 0; smaller && s < depths.size(); ++s) {
    smaller = within(depths[s], base.depths[s]);
  }
  if (!smaller) {
    return evaluate(depths);
  }
  thread_local scratch_space space;
  if (space.base != base.id) {
    space.cycle = base.cycle;
    space.queued.assign(nodes_.size(), 0);
    space.touched.clear();
    space.base = base.id;
  }
  std::vector<std::int64_t>& cycle = space.cycle;
  // The nodes to value again, earliest first in the base's order (by cycle,
  // then node): an order in which every input of the base comes first, so
  // that a node is rarely valued again but for a smaller depth's new input.
  using entry = std::pair<std::int64_t, std::uint32_t>;
  std::priority_queue<entry, std::vector<entry>, std::greater<>> queue;
  const auto push = [&](std::uint32_t node) {
    if ((space.queued[node] & 1) == 0) {
      space.queued[node] |= 1;
      queue.emplace(base.cycle[node], node);
    }
  };
  // Beyond this many valuings a whole pass, which values each node once in
  // order, is cheaper than passing delays on.
  const std::size_t most_valued = std::max<std::size_t>(nodes_.size() / 32, 256);
  bool falls_back = false;
  std::uint32_t follows = 0;            // the last bench node a new room input follows
  std::uint32_t followed = UINT32_MAX;  // the first that a write with one precedes
  for (std::size_t s = 0; s < depths.size() && !falls_back; ++s) {
    if (depths[s] == base.depths[s]) {
      continue;
    }
    const graph_stream& stream = streams_[s];
    for (std::uint64_t k = depths[s]; k < stream.writes.size() && !falls_back; ++k) {
      const std::uint32_t room = room_input(stream.writes[k], depths);
      if (room == never) {
        falls_back = true;  // a write waits for a read the run never made
        break;
      }
      follows = std::max(follows, base.bench_before[room]);
      followed = std::min(followed, base.bench_after[stream.writes[k]]);
      if (follows != 0 && follows >= followed) {
        falls_back = true;  // a cycle may close through the bench's order
        break;
      }
      if (cycle[room] + 1 + nodes_[stream.writes[k]].post > cycle[stream.writes[k]]) {
        push(stream.writes[k]);
        falls_back = queue.size() > most_valued;  // each is valued at least once
      }
    }
  }
  // Delays that pass on rarely value a node more than twice; valuing many
  // more often than there are delayed nodes suggests that they circle (a
  // deadlock, which evaluate(depths) then finds): the delayed nodes are
  // checked for a cycle, and the budget doubles when they have none.
  std::size_t valued = 0;
  std::size_t budget = 64;
  while (!falls_back && !queue.empty()) {
    if (++valued > most_valued) {
      falls_back = true;
      break;
    }
    if (valued > 2 * space.touched.size() + budget) {
      falls_back = circles(space.touched, depths, base.cycle, cycle, space.queued);
      budget = 2 * budget + valued;
      if (falls_back) {
        break;
      }
    }
    const std::uint32_t v = queue.top().second;
    queue.pop();
    space.queued[v] &= ~1;
    const std::int64_t now = cycle_of(v, room_input(v, depths), cycle);
    if (now <= cycle[v]) {
      continue;
    }
    if (cycle[v] == base.cycle[v]) {
      space.touched.push_back(v);
    }
    cycle[v] = now;
    for (std::uint32_t o = out_first_[v]; o < out_first_[v + 1]; ++o) {
      push(out_[o]);
    }
    const role& r = roles_[v];
    if (r.stream != none && !r.write && depths[r.stream] != 0 &&
        r.index + depths[r.stream] < streams_[r.stream].writes.size()) {
      push(streams_[r.stream].writes[r.index + depths[r.stream]]);
    }
  }
  evaluation result;
  if (!falls_back) {
    check_polls(depths, cycle, result);
    if (result.verdict == evaluation::kind::cycles) {
      auto last = static_cast<std::int64_t>(base.result.cycles) - 1;
      for (const std::uint32_t node : space.touched) {
        if (roles_[node].stream != none) {
          last = std::max(last, cycle[node]);
        }
      }
      result.cycles = static_cast<std::uint64_t>(last + 1);
    }
  }
  for (; !queue.empty(); queue.pop()) {
    space.queued[queue.top().second] &= ~1;
  }
  for (const std::uint32_t node : space.touched) {
    cycle[node] = base.cycle[node];
  }
  space.touched.clear();
  return falls_back ? evaluate(depths) : result;
}

// The streams on a dependency cycle through a node of the bench that did not
// run, found by walking back through inputs that did not run either; empty
// when the walk ends at a read the recorded run never made.
std::vector<std::size_t> event_graph::deadlock_cycle(
    const std::vector<std::uint8_t>& ran, const std::vector<std::uint64_t>& depths) const {
  std::uint32_t v = 0;
  while (ran[v] != 0 || bench_made_[v] == 0) {
    ++v;
  }
  std::map<std::uint32_t, std::size_t> seen;  // node -> its place on the walk
  std::vector<std::uint32_t> walk;
  while (seen.emplace(v, walk.size()).second) {
    walk.push_back(v);
    std::uint32_t next = room_input(v, depths);
    if (next == never) {
      return {};
    }
    if (next == none || ran[next] != 0) {
      next = none;
      const std::uint32_t end = v + 1 < nodes_.size() ? nodes_[v + 1].first_edge : edges_.size();
      for (std::uint32_t e = nodes_[v].first_edge; e < end && next == none; ++e) {
        if (ran[edges_[e].from] == 0) {
          next = edges_[e].from;
        }
      }
    }
    if (next == none) {
      return {};
    }
    v = next;
  }
  std::vector<std::size_t> streams;
  const std::size_t start = seen[v];
  for (std::size_t i = start; i < walk.size(); ++i) {
    const std::uint32_t to = walk[i];  // waits for walk[i + 1] (or walk[start])
    const std::uint32_t from = i + 1 < walk.size() ? walk[i + 1] : walk[start];
    const role& r = roles_[to];
    const bool on_stream =
        r.stream != none &&
        (r.write ? room_input(to, depths) == from : streams_[r.stream].writes[r.index] == from);
    if (on_stream && std::find(streams.begin(), streams.end(), r.stream) == streams.end()) {
      streams.push_back(r.stream);
    }
  }
  return streams;
}

}  // namespace qrn_tools
