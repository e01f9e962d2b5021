#include "timed_totals.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <tuple>
#include <utility>

#include "HLS/internal/depth.h"
#include "HLS/internal/stream_registry.h"
#include "HLS/internal/timed_run.h"
#include "critical_path.h"
#include "fiber_scheduler.h"
#include "timed_graph.h"
#include "timed_occupancy.h"
#include "value_ring.h"

namespace qrn_runtime {

namespace {

using qrn::internal::component_clock;
using qrn::internal::stream_info;
using qrn::internal::timed_stream_ref;

// A cycle that constrains an event, with the event it comes from and the
// cause of the cycles in between (see critical_path.h).
struct input {
  std::uint64_t cycle = 0;
  path_event from = 0;
  path_cause why = 0;
};

// An element held: the cycle it is readable and its write's event, whose
// top bits say whether the test bench wrote it and whether its writer
// waited for room.
struct held_element {
  std::uint64_t readable = 0;
  path_event written = 0;
};
constexpr path_event by_bench = std::uint64_t{1} << 63;
constexpr path_event held_writer = std::uint64_t{1} << 62;
constexpr path_event event_bits = held_writer - 1;

// A read that frees a slot: its cycle and event.
struct freed_slot {
  std::uint64_t cycle = 0;
  path_event read = 0;
};

// The causes that name a stream, fixed with its serial.
struct stream_causes {
  explicit stream_causes(std::uint64_t serial)
      : transfer(stream_path_cause(path_cause_kind::transfer, serial)),
        shallow(stream_path_cause(path_cause_kind::shallow, serial)),
        bench_pace(stream_path_cause(path_cause_kind::bench_pace, serial)),
        bench_stall(stream_path_cause(path_cause_kind::bench_stall, serial)) {}
  path_cause transfer;
  path_cause shallow;
  path_cause bench_pace;
  path_cause bench_stall;
};

// The runtime's side of one stream in a timed run.
struct stream_timing {
  explicit stream_timing(std::uint64_t serial) : cause(serial) {}
  stream_causes cause;
  value_ring<held_element> ready_at;    // one per element held, oldest first
  value_ring<freed_slot> recent_reads;  // the last `depth` reads, oldest first
  std::uint64_t next_write = 0;         // earliest cycle of the next use of the write end
  std::uint64_t next_read = 0;          // earliest cycle of the next use of the read end
  path_event last_write = 0;            // the events of their latest uses
  path_event last_read = 0;
  occupancy_sweep occupancy;
};

// The test bench's clock: each of its streams moves at its own pace, held
// back only by qrn::cycles().
struct bench_clock {
  std::uint64_t latest = 0;  // the cycle of its latest transfer
  std::uint64_t hold = 0;    // no transfer before this cycle
  path_event latest_event = 0;
  path_event hold_from = 0;  // the transfer the hold counts from
};

design_cycles totals;
bench_clock bench;

__attribute__((noinline)) stream_timing& first_timing(stream_info& info) {
  info.timing() = new stream_timing(info.serial());
  return *static_cast<stream_timing*>(info.timing());
}

stream_timing& timing_of(stream_info& info) {
  void* slot = info.timing();
  if (__builtin_expect(slot == nullptr, 0)) {
    return first_timing(info);
  }
  return *static_cast<stream_timing*>(slot);
}

std::uint64_t depth_of(const stream_info& info) {
  const std::size_t capacity = info.depth().capacity;
  return capacity == qrn::internal::unbounded_capacity ? 0 : capacity;
}

// Cycles between two uses of one end of a stream: a task without iteration
// marks is taken to use each end once per iteration, every ii cycles; a
// component's call, or a marked task's iteration, may use an end once per
// cycle (one port, one transfer per cycle).
std::uint64_t spacing(const component_clock& clock) {
  return clock.task && !clock.marked ? std::max(1U, clock.pace.ii) : 1;
}

// The stage rule: an access sits `stage` cycles after the start of its
// iteration (`now`): where qrn::at_stage put it, else a read at stage 0 (the
// iteration's inputs are read as it starts) and a write at the latency (the
// result leaves the end of the pipeline).
std::uint64_t read_stage(const component_clock& clock) {
  return clock.stage != component_clock::unstaged ? clock.stage : 0;
}
std::uint64_t write_stage(const component_clock& clock) {
  return clock.stage != component_clock::unstaged ? clock.stage : clock.pace.latency;
}

// The first cycle an element written now can enter: one cycle after the
// read that leaves room for it (the depth-th read before it); cycle 0 when
// the FIFO never held its depth.
inline input room_for_write(stream_info& info, const stream_timing& t) {
  const std::uint64_t depth = depth_of(info);
  const std::uint64_t written = info.stats().written;
  if (depth == 0 || written < depth) {
    return {};
  }
  const std::uint64_t held = written - info.stats().read;  // < depth: that read happened
  const std::uint64_t back = depth - 1 - held;             // reads after it
  if (back >= t.recent_reads.size()) {
    return {};  // the depth grew (QRN_DEPTH=grow) past the reads kept
  }
  const freed_slot freed = t.recent_reads[t.recent_reads.size() - 1 - back];
  return {freed.cycle + 1, freed.read, t.cause.shallow};
}

void note_transfer(std::uint64_t cycle, path_event event) {
  if (cycle + 1 >= totals.cycles) {
    totals.cycles = cycle + 1;
    totals.last_event = event;
  }
}

// The bench's transfer on `stream`: from `earliest`, the first cycle on
// which its hold and the interface's stall model let it through.
std::pair<std::uint64_t, path_event> bench_transfer(const timed_stream_ref& stream,
                                                    const stream_causes& cause, input earliest) {
  input at = earliest;
  if (bench.hold > at.cycle) {
    at = {bench.hold, bench.hold_from, cause.bench_pace};
  }
  std::uint64_t stalled = 0;
  while (stream.stall(stream.stream)) {
    ++stalled;
  }
  bench.latest = at.cycle + stalled;
  bench.latest_event = note_path_event(bench.latest, at.from, at.why, stalled, cause.bench_stall);
  return {bench.latest, bench.latest_event};
}

// Moves the caller's clock to its next use, at `stage`, of a stream end that
// is free from `end_free` on, and says whether that was later than its
// clock: waiting for the end is the caller's own pace (a task's loop moves
// one element per end every ii cycles), busy rather than stalled.
bool wait_for_end(component_clock& clock, std::uint64_t stage, std::uint64_t end_free) {
  const std::uint64_t at = clock.now + stage;
  if (end_free > at) {
    clock.busy += end_free - at;
    clock.now = end_free - stage;
    return true;
  }
  return false;
}

// The event of a component's access at `cycle`: its clock decided it, or
// else `decider` did (without a cause: the end's previous use, its own
// pace), which then anchors the clock.
__attribute__((always_inline)) inline path_event note_access(component_clock& clock,
                                                             std::uint64_t cycle, bool by_clock,
                                                             const input& decider) {
  if (by_clock) {
    return note_clock_event(clock, cycle);
  }
  const path_event event = note_path_event(
      cycle, decider.from,
      decider.why != 0 ? decider.why : component_path_cause(path_cause_kind::pace, clock));
  anchor_clock(clock, event, cycle);
  return event;
}

// The most elements a stream holds when a component writes an element that
// it reads back itself later (a line buffer): in its sequential code the
// write comes before that read, so the slot must be free even where, in
// cycles, the read comes first. The occupancy in cycles cannot show it.
void note_own_backlog(stream_info& info, const component_clock& writer) {
  const qrn::internal::always_run_record* reader = nullptr;
  const bool sole = info.sole_reader(reader);
  if (sole && reader != nullptr && &reader->clock == &writer) {
    std::uint64_t& peak = info.cycle_stats().peak;
    peak = std::max(peak, info.stats().written - info.stats().read + 1);
  }
}

// A write's element enters at the latest of its writer's clock plus the
// access's stage, the write end's next free cycle and room in the FIFO; a
// later end or room holds the writer back. On a tie the earlier constraint
// in that list decided: the writer was not held.
void admit_write(const timed_stream_ref& stream) {
  stream_timing& t = timing_of(stream.info);
  const input room = room_for_write(stream.info, t);
  std::uint64_t entering = 0;
  path_event event = 0;
  if (component_clock* clock = running_fiber_clock()) {
    const std::uint64_t before = clock->now;
    const std::uint64_t stage = write_stage(*clock);
    input decider{t.next_write, t.last_write, 0};
    bool by_clock = !wait_for_end(*clock, stage, t.next_write);
    entering = clock->now + stage;
    const bool held = room.cycle > entering;
    if (held && read_held_elsewhere(room.from, stream.info.serial())) {
      // Its reader had just waited for another stream's element: this FIFO
      // could not hold what the reconvergent path had in flight. The path
      // stays with the writer, its wait the stream's.
      const path_event unheld = note_access(*clock, entering, by_clock, decider);
      decider = {room.cycle, unheld, room.why};
      by_clock = false;
    } else if (held) {
      decider = room;
      by_clock = false;
    }
    if (held) {
      stream.info.cycle_stats().writer_stalls += room.cycle - entering;
      clock->now += room.cycle - entering;  // the stall rule: the iteration is held
      entering = room.cycle;
    }
    event = note_access(*clock, entering, by_clock, decider) | (held ? held_writer : 0);
    t.next_write = entering + spacing(*clock);
    note_own_backlog(stream.info, *clock);
    if (graph_recording()) {
      graph_write(stream, *clock, before, stage, spacing(*clock), entering);
    }
  } else {
    // The bench is named only where it held the design: on a tie, the room.
    const input paced{t.next_write, t.last_write, t.cause.bench_pace};
    const bool by_room = room.why != 0 && room.cycle >= paced.cycle;
    std::tie(entering, event) = bench_transfer(stream, t.cause, by_room ? room : paced);
    event |= by_bench | (by_room && room.cycle > paced.cycle ? held_writer : 0);
    t.next_write = entering + 1;
    if (graph_recording()) {
      graph_bench_write(stream, entering);
    }
  }
  t.last_write = event & event_bits;
  t.ready_at.push_back({entering + 1, event});
  t.occupancy.entered(entering, stream.info);
  note_transfer(entering, t.last_write);
}

void unwrite(stream_info& info) {
  stream_timing& t = timing_of(info);
  t.ready_at.pop_back();
  t.occupancy.unenter();
  if (graph_recording()) {
    graph_unwrite(info);
  }
}

// A read takes place at the latest of its reader's clock plus the access's
// stage, the read end's next free cycle and the element's readable cycle.
// On a tie the element decided (the path goes upstream, so that a chain
// names its slowest stage), unless its writer did not lead: the test bench
// (named only where it held the design) or a writer that waited for room,
// which this reader freed.
void read(const timed_stream_ref& stream) {
  stream_timing& t = timing_of(stream.info);
  const held_element element = t.ready_at.front();
  t.ready_at.pop_front();
  const input data{element.readable, element.written & event_bits, t.cause.transfer};
  qrn::internal::stream_cycle_stats& stats = stream.info.cycle_stats();
  std::uint64_t cycle = 0;
  path_event event = 0;
  if (component_clock* clock = running_fiber_clock()) {
    const std::uint64_t before = clock->now;
    const std::uint64_t stage = read_stage(*clock);
    input decider{t.next_read, t.last_read, 0};
    bool by_clock = !wait_for_end(*clock, stage, t.next_read);
    cycle = clock->now + stage;
    const bool led = (element.written & (by_bench | held_writer)) == 0;
    if (data.cycle > cycle || (data.cycle == cycle && led)) {
      stats.reader_stalls += data.cycle - cycle;
      clock->now += data.cycle - cycle;  // the stall rule: the iteration is held
      cycle = data.cycle;
      decider = data;
      by_clock = false;
    }
    event = note_access(*clock, cycle, by_clock, decider);
    t.next_read = cycle + spacing(*clock);
    if (graph_recording()) {
      graph_read(stream.info, *clock, before, stage, spacing(*clock), cycle);
    }
  } else {
    const input paced{t.next_read, t.last_read, t.cause.bench_pace};
    std::tie(cycle, event) =
        bench_transfer(stream, t.cause, data.cycle >= paced.cycle ? data : paced);
    t.next_read = cycle + 1;
    if (graph_recording()) {
      graph_bench_read(stream.info, cycle);
    }
    if (stats.bench_reads++ == 0) {
      stats.first_bench_read = cycle + 1;
      if (totals.first_bench_read == 0 || cycle + 1 < totals.first_bench_read) {
        totals.first_bench_read = cycle + 1;
      }
    }
    stats.last_bench_read = cycle;
    if (cycle + 1 >= totals.last_output) {
      totals.last_output = cycle + 1;
      totals.last_output_event = event;
    }
  }
  t.last_read = event;
  const std::uint64_t depth = depth_of(stream.info);
  if (depth != 0) {
    t.recent_reads.push_back({cycle, event});
    if (t.recent_reads.size() > depth) {
      t.recent_reads.pop_front();
    }
  }
  ++stats.elements;
  t.occupancy.read(cycle, stream.info);
  note_transfer(cycle, event);
}

// A poll that found nothing used its end at `at`: an event, decided by the
// caller's clock or by the end's previous use.
path_event note_refused_poll(component_clock& clock, std::uint64_t at, bool by_clock,
                             path_event last_use) {
  return note_access(clock, at, by_clock, {at, last_use, 0});
}

// Whether what a stream's other end does from now on can no longer change
// the answer to a poll at `cycle`: its one user is the test bench (which
// runs only when no fiber can), has ended, or its clock has passed the
// cycle (`ahead`: the cycles its own operations come after its clock).
// Otherwise the poll waits for the fibers with earlier clocks.
bool settled(bool sole, const qrn::internal::always_run_record* user, std::uint64_t ahead,
             std::uint64_t cycle) {
  return sole && (user == nullptr || user->ended.load(std::memory_order_relaxed) ||
                  user->clock.now + ahead >= cycle);
}

bool readable(const timed_stream_ref& stream) {
  stream_timing& t = timing_of(stream.info);  // ready_at holds one entry per element held
  component_clock* clock = running_fiber_clock();
  if (clock == nullptr) {
    if (graph_recording()) {
      graph_bench_poll();
    }
    return !t.ready_at.empty();  // the bench drains at its own pace
  }
  const std::uint64_t before = clock->now;
  const std::uint64_t stage = read_stage(*clock);
  const std::uint64_t at = std::max(clock->now + stage, t.next_read);
  const qrn::internal::always_run_record* writer = nullptr;
  const bool sole = stream.info.sole_writer(writer);
  // A writer that names stages may write at its clock; else at its latency.
  const std::uint64_t ahead =
      writer != nullptr && !writer->clock.staged ? writer->clock.pace.latency : 0;
  if (!settled(sole, writer, ahead, at)) {
    let_earlier_fibers_run(at);
  }
  const bool found = !t.ready_at.empty() && t.ready_at.front().readable <= at;
  if (graph_recording()) {
    graph_poll(stream.info, *clock, before, true, found, stage, spacing(*clock), at);
  }
  if (found) {
    return true;
  }
  clock->now = at - stage;  // the attempt used the read end for this cycle
  t.last_read = note_refused_poll(*clock, at, at == before + stage, t.last_read);
  t.next_read = at + spacing(*clock);
  return false;
}

bool room(const timed_stream_ref& stream) {
  component_clock* clock = running_fiber_clock();
  if (clock == nullptr) {
    if (graph_recording()) {
      graph_bench_poll();
    }
    return !stream.info.full();
  }
  stream_timing& t = timing_of(stream.info);
  const std::uint64_t before = clock->now;
  const std::uint64_t stage = write_stage(*clock);
  const std::uint64_t enters = std::max(clock->now + stage, t.next_write);
  const qrn::internal::always_run_record* reader = nullptr;
  const bool sole = stream.info.sole_reader(reader);  // sets `reader`: before settled() reads it
  if (!settled(sole, reader, 0, enters)) {
    let_earlier_fibers_run(enters);
  }
  const bool found = !stream.info.full() && room_for_write(stream.info, t).cycle <= enters;
  if (graph_recording()) {
    graph_poll(stream.info, *clock, before, false, found, stage, spacing(*clock), enters);
  }
  if (found) {
    return true;
  }
  clock->now = enters - stage;  // the attempt used the write end for this cycle
  t.last_write = note_refused_poll(*clock, enters, enters == before + stage, t.last_write);
  t.next_write = enters + spacing(*clock);
  return false;
}

// The iteration rule: an always-running component's next call, or a marked
// task's next iteration, starts ii cycles after the current one started
// (after its stalls), with no stage named.
void next_iteration(component_clock& clock, bool moved) {
  if (graph_recording()) {
    graph_clock_spent(clock, clock.now, clock.pace.ii);
  }
  clock.now += clock.pace.ii;
  clock.path_paced += clock.pace.ii;
  clock.stage = component_clock::unstaged;
  if (moved) {
    clock.busy += clock.pace.ii;
  }
}

void place(unsigned stage) {
  if (component_clock* clock = running_fiber_clock()) {
    clock->stage = stage;
    clock->staged = true;
    clock->deepest_stage = std::max(clock->deepest_stage, stage);
  }
}

// A task's first mark starts its loop at its clock; each later one starts
// the next iteration. In a component's call (one iteration) it only ends
// the named stages.
void new_iteration() {
  component_clock* clock = running_fiber_clock();
  if (clock == nullptr) {
    return;
  }
  clock->iterations += clock->task ? 1 : 0;
  if (clock->task && clock->marked) {
    next_iteration(*clock, true);
  } else {
    clock->marked = clock->task;
    clock->stage = component_clock::unstaged;
  }
}

void spend(std::uint64_t cycles) {
  if (component_clock* clock = running_fiber_clock()) {
    if (graph_recording()) {
      graph_clock_spent(*clock, clock->now, cycles);
    }
    clock->now += cycles;
    clock->busy += cycles;
    clock->path_paced += cycles;
  } else {
    if (bench.latest >= bench.hold) {
      bench.hold_from = bench.latest_event;
    }
    bench.hold = std::max(bench.hold, bench.latest) + cycles;
    if (graph_recording()) {
      graph_bench_spent(bench.hold);
    }
  }
}

std::uint64_t cycle() {
  const component_clock* clock = running_fiber_clock();
  return clock != nullptr ? clock->now : bench.latest;
}

void launched(component_clock& clock, bool by_component) {
  component_clock* launcher = by_component ? running_fiber_clock() : nullptr;
  clock.now = launcher != nullptr ? launcher->now : 0;
  if (launcher != nullptr) {
    clock.path_anchor = launcher->path_anchor;
    clock.path_anchor_cycle = launcher->path_anchor_cycle;
    clock.path_paced = launcher->path_paced;
  } else {
    anchor_clock(clock, 0, 0);
  }
  if (graph_recording()) {
    graph_launched(clock, launcher);
  }
}

// qrn::cycle().
std::uint64_t program_cycle() {
  if (graph_recording()) {
    graph_clock_read();
  }
  return cycle();
}

void release(stream_info& info) {
  auto* t = static_cast<stream_timing*>(info.timing());
  t->occupancy.finish(info);
  delete t;
  info.timing() = nullptr;
}

}  // namespace

qrn::internal::stream_cycle_stats cycle_stats_so_far(stream_info& info) {
  if (info.timing() == nullptr) {
    return info.cycle_stats();
  }
  return timing_of(info).occupancy.finished_stats(info);
}

void skip_idle_calls(component_clock& clock, const qrn::internal::poll_log& log,
                     std::uint64_t earliest_other) {
  if (clock.task || clock.pace.ii == 0) {
    return;
  }
  // The first cycle a poll could find what it looks for: an element
  // readable, or room for a write issued then; 0 when unknown.
  std::uint64_t until = UINT64_MAX;
  log.for_each([&until, &clock](const qrn::internal::poll_site& site) {
    stream_info& info = site.ops->info(site.stream);
    const stream_timing& t = timing_of(info);
    std::uint64_t first = 0;
    // The poll's stage is not known: the deepest the component names.
    if (site.ops->for_room) {
      const std::uint64_t room = room_for_write(info, t).cycle;
      const std::uint64_t stage = std::max(clock.pace.latency, clock.deepest_stage);
      first = room > stage ? room - stage : 0;
    } else if (!t.ready_at.empty()) {
      const std::uint64_t ready = t.ready_at.front().readable;
      first = ready > clock.deepest_stage ? ready - clock.deepest_stage : 0;
    }
    until = std::min(until, first);
  });
  if (earliest_other != UINT64_MAX) {
    until = std::min(until, earliest_other + 1);
  }
  if (until != UINT64_MAX && until > clock.now) {
    const std::uint64_t ii = clock.pace.ii;
    const std::uint64_t skipped = (until - clock.now + ii - 1) / ii * ii;
    clock.now += skipped;
    clock.path_paced += skipped;
  }
}

void finish_all_cycle_stats() {
  if (!qrn::internal::timed_run()) {
    return;
  }
  qrn::internal::stream_registry_state& registry = qrn::internal::stream_registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  for (stream_info* stream = registry.head; stream != nullptr; stream = stream->next()) {
    if (stream->timing() != nullptr) {
      timing_of(*stream).occupancy.finish(*stream);
    }
  }
}

std::uint64_t timed_cycle_now() { return cycle(); }

const design_cycles& design_totals() { return totals; }

}  // namespace qrn_runtime

extern "C" __attribute__((visibility("default"))) const qrn::internal::timed_run_ops*
qrn_timed_run() {
  static const qrn::internal::timed_run_ops ops = {
      &qrn_runtime::admit_write, &qrn_runtime::unwrite,       &qrn_runtime::read,
      &qrn_runtime::readable,    &qrn_runtime::room,          &qrn_runtime::next_iteration,
      &qrn_runtime::spend,       &qrn_runtime::program_cycle, &qrn_runtime::release,
      &qrn_runtime::launched,    &qrn_runtime::place,         &qrn_runtime::new_iteration,
  };
  return &ops;
}
