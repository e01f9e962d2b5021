// The fiber scheduler (QRN_SCHEDULE=fibers; see HLS/internal/scheduler.h):
// every always-running component and task invocation is a fiber, run by the
// main thread whenever the test bench cannot go on.
//
// Order. Ready fibers wait in a FIFO and run in turn, so a program with the
// same input does the same on every run; in a timed run the fiber with the
// earliest clock runs first (see fiber_ready_queue.h). With QRN_SCHEDULE_SEED=N the next
// fiber is drawn among the ready ones, and so is the number of moving calls
// after which a component is switched out (1 to seeded_quantum_limit), from a
// generator seeded with N: each seed is one legal interleaving, and the same
// seed replays it.
//
// Switches. A fiber that waits, or is switched out, hands the thread straight
// to the next fiber in that order when the test bench's loop would resume it
// at once; otherwise, and always in a timed run, it goes back to that loop.
//
// Waits. A fiber waits on streams through the streams' lists of parked
// pollers (see HLS/internal/parking.h): a write to one of them makes it
// ready. A component whose call moved nothing and found no stream empty is
// dormant: it runs again when the test bench next waits for the components.
//
// Main thread only; nothing here takes a lock.
#ifndef QRN_RUNTIME_FIBER_SCHEDULER_H
#define QRN_RUNTIME_FIBER_SCHEDULER_H

#include <cstdint>

#include "HLS/internal/parking.h"
#include "HLS/internal/timed_run.h"

namespace qrn_runtime {

// Moving calls a component makes before it is switched out, unseeded: a
// component whose input holds data keeps running (its elements stay in
// cache, and switches are rare) until it finds an input empty, an output
// full, or this many calls have passed, so that a source that never waits
// still lets the others run.
constexpr std::uint32_t default_quantum = 1024;
// Under a seed the quantum is drawn from 1 to this, for more interleavings
// per seed.
constexpr std::uint32_t seeded_quantum_limit = 64;

// QRN_SCHEDULE_SEED: true with the seed when it is a whole number; false
// when unset, or bad (one line on standard error), for the fixed order.
bool read_schedule_seed(std::uint64_t& seed);

// The run-all call with fibers: runs fibers until none can run, or gives up
// after QRN_SETTLE_LIMIT seconds with a warning naming the busy components.
void run_all_fibers();

// Timed runs: the running fiber's clock (null on the test bench), and the
// wait of a fiber about to answer a non-blocking operation at `cycle` while
// every ready fiber with an earlier clock runs. The clock is found on the
// first call after each resume (a component's fiber names its record before
// its first stream operation) and kept in `found_running_clock` until the
// fiber leaves, so that later calls read one word.
extern qrn::internal::component_clock* found_running_clock;
qrn::internal::component_clock* find_running_fiber_clock();
inline qrn::internal::component_clock* running_fiber_clock() {
  qrn::internal::component_clock* clock = found_running_clock;
  return clock != nullptr ? clock : find_running_fiber_clock();
}

// Timed: an always-running component whose call found nothing readable,
// while a stream it polls holds an element readable later, makes no calls
// until then (its calls in between would find the same), nor past the
// cycle after `earliest_other`, the earliest clock of another ready fiber,
// which may write sooner. A task runs its own loop: unchanged.
void skip_idle_calls(qrn::internal::component_clock& clock, const qrn::internal::poll_log& log,
                     std::uint64_t earliest_other);
void let_earlier_fibers_run(std::uint64_t cycle);

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_FIBER_SCHEDULER_H
