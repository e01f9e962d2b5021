// Timed runs (QRN_TIME=cycles): cycle counts from a functional run.
//
// Every component, task and the test bench has a clock in cycles, and every
// element in flight the cycle at which it becomes readable. A stream
// operation takes place at the latest of the cycles that constrain it (the
// caller's clock, the element's arrival, room in a FIFO of its depth, one
// transfer per cycle at each end); the difference holds the caller back and
// is counted as a stall. The rules, with their hardware reasons, are in
// docs/timed.md.
//
// This header holds the mode, the per-component clock and the hooks the
// streams call; the emulation runtime keeps each stream's timestamps and
// statistics (runtime/timed_*.cpp). A timed run always runs on the fiber
// scheduler (see scheduler.h), so every hook runs on the main thread and
// takes no lock. Untimed, each hook site costs one load of a
// constant-initialised word and a predictable branch.
#ifndef QRN_HLS_INTERNAL_TIMED_RUN_H
#define QRN_HLS_INTERNAL_TIMED_RUN_H

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace qrn {

// How a component's loop is pipelined: a new iteration (an always-running
// component's call) every `ii` cycles, and its writes leave the pipeline
// `latency` cycles after the iteration starts unless qrn::at_stage places
// them. See launch_always_run, launch_task and qrn::not_pipelined.
struct timing {
  unsigned int ii = 1;
  unsigned int latency = 1;
};

namespace internal {

class stream_info;

// One component's (or task's) clock. Used by its fiber only.
struct component_clock {
  std::uint64_t now = 0;  // the cycle of its next operation
  timing pace;
  bool task = false;       // a task: its loop's iterations are not calls
  std::uint64_t busy = 0;  // cycles of calls that moved elements, and cycles spent
  // Its entry in a recorded event graph, + 1; 0: none yet (runtime/timed_graph.h).
  std::uint32_t graph_slot = 0;
  // Its number as a cause on the critical path, + 1; 0: none yet; and the
  // path's view of `now` (runtime/critical_path.h): the event that last set
  // it, that event's cycle, and the cycles of its own pace since.
  std::uint32_t path_slot = 0;
  std::uint64_t path_anchor = 0;
  std::uint64_t path_anchor_cycle = 0;
  std::uint64_t path_paced = 0;
  // Where its accesses sit in an iteration (qrn::at_stage, qrn::new_iteration):
  // `now` is the cycle of the iteration's stage 0.
  unsigned stage = unstaged;   // the stage of the accesses that follow
  unsigned deepest_stage = 0;  // the largest stage it has named
  bool staged = false;         // it has named a stage: a write may enter at `now`
  bool marked = false;         // a task that marks its iterations: its loop is paced, not each end
  std::uint64_t iterations = 0;  // a task: the iterations it has marked

  // No stage named in this iteration: reads at stage 0, writes at `latency`.
  static constexpr unsigned unstaged = ~0U;
};

// A stream's cycle statistics, kept by the runtime; in the stream's
// statistics so that a destroyed stream's account keeps them.
struct stream_cycle_stats {
  std::uint64_t elements = 0;          // elements read
  std::uint64_t peak = 0;              // most elements held in one cycle
  std::uint64_t occupancy_cycles = 0;  // elements held, summed over cycles
  std::uint64_t cycles_full = 0;       // cycles holding its depth
  std::uint64_t cycles_empty = 0;      // cycles holding nothing
  std::uint64_t span = 0;              // cycles from 0 to its last transfer
  std::uint64_t reader_stalls = 0;     // cycles its reader waited for an element
  std::uint64_t writer_stalls = 0;     // cycles its writer waited for room
  std::uint64_t first_bench_read = 0;  // cycle of the test bench's first read of it, + 1; 0: none
  std::uint64_t last_bench_read = 0;   // cycle of the test bench's last read of it
  std::uint64_t bench_reads = 0;       // elements the test bench read
};

// What a stream hands the runtime: itself, its stall model (which paces the
// test bench's side of it) and its element's width.
struct timed_stream_ref {
  stream_info& info;
  void* stream;
  bool (*stall)(void* stream);
  std::size_t element_bits;  // the FIFO's width
};

// The runtime's side of a timed run. All on the main thread.
struct timed_run_ops {
  // Before a write appends, once the stream has room: the cycle its element
  // enters, which may hold the writer back, stamped on the element. May
  // throw (no memory), stamping nothing.
  void (*admit_write)(const timed_stream_ref& stream);
  // The stamped write did not append (it threw): drops the stamp.
  void (*unwrite)(stream_info& stream);
  // A read took the head element: the cycle it was read.
  void (*read)(const timed_stream_ref& stream);
  // A non-blocking read, peek or empty(): whether an element is readable at
  // the caller's clock. A fiber first lets every fiber with an earlier
  // clock run.
  bool (*readable)(const timed_stream_ref& stream);
  // full() and tryWrite: whether a write issued at the caller's clock would
  // find room when its element enters. A fiber first lets every fiber with
  // an earlier clock run.
  bool (*room)(const timed_stream_ref& stream);
  // An always-running component's call returned: the next starts ii later.
  void (*call_ended)(component_clock& clock, bool moved);
  // qrn::cycles(n) and qrn::cycle() of the caller.
  void (*spend)(std::uint64_t cycles);
  std::uint64_t (*cycle)();
  // The stream is being destroyed: its timestamps go, its statistics stay.
  void (*release)(stream_info& stream);
  // A component or task is launched: its clock starts at the launching
  // component's clock, or at 0 when the test bench launches it.
  void (*launched)(component_clock& clock, bool by_component);
  // qrn::at_stage(s) and qrn::new_iteration() of the caller.
  void (*place)(unsigned stage);
  void (*new_iteration)();
};

}  // namespace internal
}  // namespace qrn

// Defined by the emulation runtime; null in a program that does not link it.
extern "C" __attribute__((weak)) const qrn::internal::timed_run_ops* qrn_timed_run();

namespace qrn {
namespace internal {

// The runtime's side of a timed run, set once, when the scheduling mode is
// read (see scheduler.h) and found to be QRN_TIME=cycles; null otherwise.
// One word for both questions, whether the run is timed and where its hooks
// are, so that a hook site loads it once.
inline std::atomic<const timed_run_ops*>& timed_run_word() {
  static std::atomic<const timed_run_ops*> word{nullptr};  // constant-initialised
  return word;
}

__attribute__((always_inline)) inline bool timed_run() {
  return __builtin_expect(timed_run_word().load(std::memory_order_relaxed) != nullptr, 0);
}

// Requires timed_run().
__attribute__((always_inline)) inline const timed_run_ops& timed_ops() {
  return *timed_run_word().load(std::memory_order_relaxed);
}

// The timing of components launched without one (see qrn::set_default_timing).
inline timing& default_component_timing() {
  static timing pace;  // constant-initialised
  return pace;
}

// Starts the clock of a component being launched: at the clock of the
// component that launches it, or at 0 when the test bench does (the harness
// feeds the interfaces from cycle 0 whatever the order of the bench's code).
inline void start_clock(component_clock& clock, bool by_component) {
  if (timed_run()) {
    timed_ops().launched(clock, by_component);
  } else {
    clock.now = 0;
  }
}

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_TIMED_RUN_H
