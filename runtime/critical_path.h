// The critical path of a timed run, for the report's bottleneck: the chain
// of events that decided the cycle of the last output, each step attributed
// to what its cycles stand for.
//
// Every transfer, refused poll and hold of the test bench is an event: its
// cycle, the earlier event whose cycle decided it (0: the run's start, cycle
// 0) and the cause of the cycles between the two, part of which may go to a
// second cause (a component's latency beside its pace, the bench's stall
// model beside what it waited for). The events go into a ring of the last
// QRN_TIME_PATH_EVENTS (default 262144, 24 bytes each), filled as the run
// goes: a timed run holds at most that much, however long it runs. The walk
// back from the last output stops where the ring was overwritten; the
// shares are then those of the path's last part. Main thread only, like the
// rest of a timed run.
#ifndef QRN_RUNTIME_CRITICAL_PATH_H
#define QRN_RUNTIME_CRITICAL_PATH_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "HLS/internal/timed_run.h"

namespace qrn_runtime {

// An event's number in the run, from 1; 0 stands for the run's start.
using path_event = std::uint64_t;

// What the cycles of a step stand for: a component's own pace (its ii,
// qrn::cycles, the one transfer per cycle of its stream ends), its latency
// (the stage of an access after its iteration's start), a stream's one
// cycle between an element's write and its read, a stream too shallow (a
// write that waited for room), the test bench's pace on a stream (one
// transfer per cycle, its qrn::cycles) and that stream's stall model.
enum class path_cause_kind : std::uint32_t {
  none,
  pace,
  latency,
  transfer,
  shallow,
  bench_pace,
  bench_stall,
};

// A kind and whom it concerns, packed: a component's slot (see
// component_cause) or a stream's serial.
using path_cause = std::uint32_t;

constexpr unsigned path_kind_shift = 29;
constexpr std::uint32_t path_subject_mask = (1U << path_kind_shift) - 1;

// `kind` about `subject` (a stream's serial or a component's slot), packed.
inline path_cause pack_path_cause(path_cause_kind kind, std::uint64_t subject) {
  return static_cast<std::uint32_t>(kind) << path_kind_shift |
         static_cast<std::uint32_t>(subject & path_subject_mask);
}
inline path_cause stream_path_cause(path_cause_kind kind, std::uint64_t serial) {
  return pack_path_cause(kind, serial);
}
// Gives the clock its slot.
void number_clock(qrn::internal::component_clock& clock);
inline path_cause component_path_cause(path_cause_kind kind,
                                       qrn::internal::component_clock& clock) {
  if (__builtin_expect(clock.path_slot == 0, 0)) {
    number_clock(clock);
  }
  return pack_path_cause(kind, clock.path_slot);
}
// The cause of kind `kind` about the subject of `cause`.
inline path_cause same_subject(path_cause cause, path_cause_kind kind) {
  return pack_path_cause(kind, cause);
}
inline path_cause_kind kind_of(path_cause cause) {
  return static_cast<path_cause_kind>(cause >> path_kind_shift);
}
// The stream serial or component slot of `cause`.
inline std::uint32_t subject_of(path_cause cause) { return cause & path_subject_mask; }
// The clock of a component's slot; null for a slot never given out.
const qrn::internal::component_clock* clock_of_slot(std::uint32_t slot);

// One event. `back`: its number minus that of the event that decided it; 0
// for the run's start; `beyond` when that event lies past the window.
struct path_event_record {
  std::uint64_t cycle = 0;
  std::uint32_t back = 0;
  path_cause cause = 0;
  path_cause extra_cause = 0;
  std::uint32_t extra = 0;
};
constexpr std::uint32_t path_beyond = UINT32_MAX;

// The ring: event n in slot (n - 1) % window. Constant-initialised, never
// freed (the report reads it while the process ends).
struct path_ring {
  path_event_record* slots = nullptr;
  std::uint64_t count = 0;      // events made
  std::size_t next = 0;         // the next event's slot, once below `allocated`
  std::size_t allocated = 0;    // slots allocated, up to the window
  std::size_t window = 262144;  // QRN_TIME_PATH_EVENTS
};
extern path_ring the_path_ring;

// Makes `next` a slot: allocates more, up to the window (the ring fills as
// the run goes), or else goes back to the first.
void make_path_slot();

// A new event at `cycle`, decided by `from`: its cycles after `from`'s go
// to `cause`, but `extra` of them to `extra_cause`. Returns its number.
inline path_event note_path_event(std::uint64_t cycle, path_event from, path_cause cause,
                                  std::uint64_t extra = 0, path_cause extra_cause = 0) {
  path_ring& r = the_path_ring;
  if (__builtin_expect(r.next == r.allocated, 0)) {
    make_path_slot();
  }
  // Everything is read before the record is written: its cycle is a word
  // of the ring's own type.
  const std::size_t next = r.next;
  const std::size_t window = r.window;
  const path_event made = r.count + 1;
  const std::uint64_t back = made - from;
  const std::uint32_t within = back < window ? static_cast<std::uint32_t>(back) : path_beyond;
  path_event_record& record = r.slots[next];
  r.count = made;
  r.next = next + 1;
  record.cycle = cycle;
  record.back = from != 0 ? within : 0;
  record.cause = cause;
  record.extra_cause = extra_cause;
  record.extra = extra < path_beyond ? static_cast<std::uint32_t>(extra) : path_beyond - 1;
  return made;
}

// A component's clock as the path sees it: `now` is `anchor_cycle` (the
// cycle of event `anchor`, or 0 for the start) plus `paced` cycles of its
// own pace, give or take the stage `anchor` was at.
inline void anchor_clock(qrn::internal::component_clock& clock, path_event anchor,
                         std::uint64_t anchor_cycle) {
  clock.path_anchor = anchor;
  clock.path_anchor_cycle = anchor_cycle;
  clock.path_paced = 0;
}
// An event that the component's clock decided: what is not its pace since
// the anchor is its latency. An iteration's early stage may come before its
// predecessor's late one that stalled: then nothing is latency.
inline path_event note_clock_event(qrn::internal::component_clock& clock, std::uint64_t cycle) {
  const std::uint64_t since = cycle > clock.path_anchor_cycle ? cycle - clock.path_anchor_cycle : 0;
  const std::uint64_t latency = since > clock.path_paced ? since - clock.path_paced : 0;
  const path_cause pace = component_path_cause(path_cause_kind::pace, clock);
  return note_path_event(cycle, clock.path_anchor, pace, latency,
                         same_subject(pace, path_cause_kind::latency));
}

// Whether `read`, a read of the stream with serial `serial`, came at its
// reader's clock within an iteration of the reader's wait for another
// stream's element: a write held by the room it freed waited on a FIFO too
// shallow for what the other stream's path had in flight, not on the
// reader's pace.
bool read_held_elsewhere(path_event read, std::uint64_t serial);

// Reads QRN_TIME_PATH_EVENTS; one line for a bad value.
void configure_critical_path();

struct path_share {
  path_cause cause = 0;
  std::int64_t cycles = 0;
};

struct critical_path {
  std::uint64_t cycles = 0;        // the cycles the walk covered, up to the event's
  bool complete = true;            // it reached the run's start
  std::vector<path_share> shares;  // per cause, in the order first met
};

// The walk back from event `last`: its cycles per cause. A round trip
// through a stream (a write that waited for the room of a read that had
// waited for this stream's element) goes to the stream as too shallow, its
// transfer cycle too.
critical_path walk_critical_path(path_event last);

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_CRITICAL_PATH_H
