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

path_cause stream_path_cause(path_cause_kind kind, std::uint64_t serial);
path_cause component_path_cause(path_cause_kind kind, qrn::internal::component_clock& clock);
path_cause_kind kind_of(path_cause cause);
// The stream serial or component slot of `cause`.
std::uint32_t subject_of(path_cause cause);
// The clock of a component's slot; null for a slot never given out.
const qrn::internal::component_clock* clock_of_slot(std::uint32_t slot);

// A new event at `cycle`, decided by `from`: its cycles after `from`'s go
// to `cause`, but `extra` of them to `extra_cause`. Returns its number.
path_event note_path_event(std::uint64_t cycle, path_event from, path_cause cause,
                           std::uint64_t extra = 0, path_cause extra_cause = 0);

// A component's clock as the path sees it: `now` is `anchor_cycle` (the
// cycle of event `anchor`, or 0 for the start) plus `paced` cycles of its
// own pace, give or take the stage `anchor` was at.
void anchor_clock(qrn::internal::component_clock& clock, path_event anchor,
                  std::uint64_t anchor_cycle);
// An event that the component's clock decided: what is not its pace since
// the anchor is its latency.
path_event note_clock_event(qrn::internal::component_clock& clock, std::uint64_t cycle);

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
