#include "timed_run.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <mutex>

#include "HLS/internal/depth.h"
#include "HLS/internal/stream_registry.h"
#include "HLS/internal/timed_run.h"
#include "fiber_scheduler.h"
#include "timed_graph.h"
#include "timed_occupancy.h"

namespace qrn_runtime {

namespace {

using qrn::internal::component_clock;
using qrn::internal::stream_info;
using qrn::internal::timed_stream_ref;

// What decided the cycle of an event, for the bottleneck: a component's own
// pace (its clock's address), a FIFO too shallow for the rate both its ends
// could keep (stream_cause), or the test bench's pace on one of its streams
// (bench_cause). A stall takes the cause of what held it, so each event
// carries the first cause of its cycle.
using cause = std::uintptr_t;

cause stream_cause(const stream_info& info) { return info.serial() << 2 | 1; }
cause bench_cause(const stream_info& info) { return info.serial() << 2 | 2; }
cause own_cause(const component_clock& clock) { return reinterpret_cast<cause>(&clock); }
cause cause_of(const component_clock& clock) {
  return clock.held_by != 0 ? clock.held_by : own_cause(clock);
}

struct stamp {
  std::uint64_t cycle;
  cause why;
};

// The runtime's side of one stream in a timed run.
struct stream_timing {
  std::deque<stamp> ready_at;      // the cycle each held element is readable, oldest first
  std::deque<stamp> recent_reads;  // the last `depth` reads, oldest first
  std::uint64_t next_write = 0;    // earliest cycle of the next use of the write end
  std::uint64_t next_read = 0;     // earliest cycle of the next use of the read end
  occupancy_sweep occupancy;
};

// The test bench's clock: each of its streams moves at its own pace, held
// back only by qrn::cycles().
struct bench_clock {
  std::uint64_t latest = 0;  // the cycle of its latest transfer
  std::uint64_t hold = 0;    // no transfer before this cycle
};

design_cycles totals;
bench_clock bench;

stream_timing& timing_of(stream_info& info) {
  void*& slot = info.timing();
  if (slot == nullptr) {
    slot = new stream_timing;
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

// The stall rule: an access at its stage that must wait `cycles` (for an
// element, for room) holds its whole iteration back, as a stalled pipeline
// or state machine does: the iteration's later stages, and the iterations
// after it, move on by as much.
void hold_iteration(component_clock& clock, std::uint64_t cycles, cause why) {
  clock.now += cycles;
  clock.held_by = why;
}

// The first cycle an element written now can enter: one cycle after the
// read that leaves room for it (the depth-th read before it), with that
// read's cause; cycle 0 when the FIFO never held its depth.
stamp room_for_write(stream_info& info, const stream_timing& t) {
  const std::uint64_t depth = depth_of(info);
  const std::uint64_t written = info.stats().written;
  if (depth == 0 || written < depth) {
    return {0, 0};
  }
  const std::uint64_t held = written - info.stats().read;  // < depth: that read happened
  const std::uint64_t back = depth - 1 - held;             // reads after it
  if (back >= t.recent_reads.size()) {
    return {0, 0};  // the depth grew (QRN_DEPTH=grow) past the reads kept
  }
  const stamp freed = t.recent_reads[t.recent_reads.size() - 1 - back];
  return {freed.cycle + 1, freed.why};
}

void note_transfer(std::uint64_t cycle, cause why) {
  if (cycle + 1 >= totals.cycles) {
    totals.cycles = cycle + 1;
    totals.last_cause = why;
  }
}

// The bench's transfer on `stream`: from `earliest` (with its cause), the
// first cycle on which the interface's stall model lets it through.
stamp bench_transfer(const timed_stream_ref& stream, stamp earliest) {
  stamp at = earliest;
  if (bench.hold > at.cycle) {
    at = {bench.hold, bench_cause(stream.info)};
  }
  while (stream.stall(stream.stream)) {
    at = {at.cycle + 1, bench_cause(stream.info)};
  }
  bench.latest = at.cycle;
  return at;
}

// The cycle of the caller's next use, at `stage`, of a stream end that is
// free from `end_free` on: waiting for it is the caller's own pace (a task's
// loop moves one element per end every ii cycles), busy rather than stalled.
std::uint64_t own_pace(component_clock& clock, std::uint64_t stage, std::uint64_t end_free) {
  const std::uint64_t at = clock.now + stage;
  if (end_free > at) {
    clock.busy += end_free - at;
    clock.held_by = own_cause(clock);
    clock.now = end_free - stage;
    return end_free;
  }
  return at;
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

void admit_write(const timed_stream_ref& stream) {
  stream_timing& t = timing_of(stream.info);
  const stamp room = room_for_write(stream.info, t);
  stamp entering;
  if (component_clock* clock = running_fiber_clock()) {
    const std::uint64_t before = clock->now;
    const std::uint64_t stage = write_stage(*clock);
    std::uint64_t at = own_pace(*clock, stage, t.next_write);
    if (room.cycle > at) {
      stream.info.cycle_stats().writer_stalls += room.cycle - at;
      hold_iteration(*clock, room.cycle - at, room.why);
      at = room.cycle;
    }
    t.next_write = at + spacing(*clock);
    entering = {at, cause_of(*clock)};
    note_own_backlog(stream.info, *clock);
    if (graph_recording()) {
      graph_write(stream, *clock, before, stage, spacing(*clock), entering.cycle);
    }
  } else {
    const stamp paced{t.next_write, bench_cause(stream.info)};
    entering = bench_transfer(stream, room.cycle > paced.cycle ? room : paced);
    t.next_write = entering.cycle + 1;
    if (graph_recording()) {
      graph_bench_write(stream, entering.cycle);
    }
  }
  t.ready_at.push_back({entering.cycle + 1, entering.why});
  t.occupancy.entered(entering.cycle, stream.info, depth_of(stream.info));
  note_transfer(entering.cycle, entering.why);
}

void unwrite(stream_info& info) {
  stream_timing& t = timing_of(info);
  t.ready_at.pop_back();
  t.occupancy.unenter();
  if (graph_recording()) {
    graph_unwrite(info);
  }
}

void read(const timed_stream_ref& stream) {
  stream_timing& t = timing_of(stream.info);
  const stamp readable = t.ready_at.front();
  t.ready_at.pop_front();
  qrn::internal::stream_cycle_stats& stats = stream.info.cycle_stats();
  stamp done;            // the read, with the cause of the room it frees
  cause transfer_cause;  // what decided its cycle
  if (component_clock* clock = running_fiber_clock()) {
    const std::uint64_t before = clock->now;
    const std::uint64_t stage = read_stage(*clock);
    std::uint64_t cycle = own_pace(*clock, stage, t.next_read);
    // A read that waited for this stream's element frees room that its
    // writer may wait for in turn: both ends wait on the FIFO, too shallow.
    done = {cycle, cause_of(*clock)};
    if (readable.cycle > cycle) {
      stats.reader_stalls += readable.cycle - cycle;
      hold_iteration(*clock, readable.cycle - cycle, readable.why);
      cycle = readable.cycle;
      done = {cycle, stream_cause(stream.info)};
    }
    t.next_read = cycle + spacing(*clock);
    transfer_cause = cause_of(*clock);
    if (graph_recording()) {
      graph_read(stream.info, *clock, before, stage, spacing(*clock), cycle);
    }
  } else {
    const stamp paced{t.next_read, bench_cause(stream.info)};
    done = bench_transfer(stream, readable.cycle > paced.cycle ? readable : paced);
    transfer_cause = done.why;
    if (done.why == readable.why && readable.cycle > paced.cycle) {
      done.why = stream_cause(stream.info);
    }
    t.next_read = done.cycle + 1;
    if (graph_recording()) {
      graph_bench_read(stream.info, done.cycle);
    }
    if (stats.bench_reads++ == 0) {
      stats.first_bench_read = done.cycle + 1;
      if (totals.first_bench_read == 0 || done.cycle + 1 < totals.first_bench_read) {
        totals.first_bench_read = done.cycle + 1;
      }
    }
    stats.last_bench_read = done.cycle;
    if (done.cycle + 1 >= totals.last_output) {
      totals.last_output = done.cycle + 1;
      totals.last_output_cause = transfer_cause;
    }
  }
  const std::uint64_t cycle = done.cycle;
  const std::uint64_t depth = depth_of(stream.info);
  if (depth != 0) {
    t.recent_reads.push_back(done);
    if (t.recent_reads.size() > depth) {
      t.recent_reads.pop_front();
    }
  }
  ++stats.elements;
  t.occupancy.read(cycle, stream.info, depth);
  note_transfer(cycle, transfer_cause);
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
  stream_timing& t = timing_of(stream.info);  // ready_at holds a stamp per element held
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
  const bool found = !t.ready_at.empty() && t.ready_at.front().cycle <= at;
  if (graph_recording()) {
    graph_poll(stream.info, *clock, before, true, found, stage, spacing(*clock), at);
  }
  if (found) {
    return true;
  }
  clock->now = at - stage;  // the attempt used the read end for this cycle
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
  clock.held_by = own_cause(clock);
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
    clock->held_by = own_cause(*clock);
  } else {
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
  t->occupancy.finish(info, depth_of(info));
  delete t;
  info.timing() = nullptr;
}

}  // namespace

void finish_cycle_stats(stream_info& info) {
  if (info.timing() != nullptr) {
    timing_of(info).occupancy.finish(info, depth_of(info));
  }
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
      const std::uint64_t ready = t.ready_at.front().cycle;
      first = ready > clock.deepest_stage ? ready - clock.deepest_stage : 0;
    }
    until = std::min(until, first);
  });
  if (earliest_other != UINT64_MAX) {
    until = std::min(until, earliest_other + 1);
  }
  if (until != UINT64_MAX && until > clock.now) {
    const std::uint64_t ii = clock.pace.ii;
    clock.now += (until - clock.now + ii - 1) / ii * ii;
  }
}

void finish_all_cycle_stats() {
  if (!qrn::internal::timed_run()) {
    return;
  }
  qrn::internal::stream_registry_state& registry = qrn::internal::stream_registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  for (stream_info* stream = registry.head; stream != nullptr; stream = stream->next()) {
    finish_cycle_stats(*stream);
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
