// What a run did, stream by stream and component by component: the
// statistics every stream and always-running component keeps, as a snapshot
// and as a printed table. Link `qrn::runtime` to use these functions.
//
// The same data feeds the reports the emulation runtime writes by itself
// (all on standard error or to a file, never on standard output):
// - at the end of every run, a warning for each stream that still holds
//   elements or was written sideband its declared interface would drop, and with
//   QRN_REPORT=table|PATH.json|PATH.csv the whole table;
// - when every thread waits and nothing can move, a hang report
//   (QRN_HANG_AFTER, QRN_ON_HANG);
// - beside a fatal error, the stream and the thread that made the call;
// - with QRN_TRACE=PATH.vcd|PATH.json (or trace_to), a trace of the stream
//   traffic, written when the process ends.
// See docs/diagnostics.md for the reports and traces, docs/settings.md for the
// settings.
#ifndef QRN_HLS_DIAGNOSTICS_H
#define QRN_HLS_DIAGNOSTICS_H

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace qrn {

// A timed run's account of one stream (QRN_TIME=cycles; all 0 otherwise).
struct stream_cycles {
  std::uint64_t elements = 0;       // elements read
  std::uint64_t peak = 0;           // most elements held in one cycle
  double average_occupancy = 0;     // elements held, averaged over the cycles to its last transfer
  std::uint64_t cycles_full = 0;    // cycles it held its depth
  std::uint64_t cycles_empty = 0;   // cycles it held nothing, up to its last transfer
  std::uint64_t reader_stalls = 0;  // cycles its reader waited for an element
  std::uint64_t writer_stalls = 0;  // cycles its writer waited for room
  double bench_elements_per_cycle = 0;  // the test bench's reads of it per cycle; 0: fewer than 2
};

// Cycles a component waited on one stream.
struct stall_cycles {
  std::string stream;
  std::uint64_t cycles = 0;
};

// A timed run's account of one component.
struct component_cycles {
  std::uint64_t busy = 0;   // cycles of calls that moved elements, and cycles spent (qrn::cycles)
  std::uint64_t clock = 0;  // its clock now
  std::vector<stall_cycles> inputs;   // cycles stalled on each stream it reads
  std::vector<stall_cycles> outputs;  // cycles stalled on each stream it writes
  std::uint64_t iterations = 0;       // a task: the iterations it marked (qrn::new_iteration)
  double utilisation = 0;             // busy cycles over the run's cycles, at most 1
};

// Cycles of a timed run's critical path that one cause accounts for: a
// component's pace or latency, a stream's transfer cycle or its being too
// shallow, the test bench's pace or stall model on a stream.
struct path_cycles {
  std::string cause;  // "worker() pace", "stream lap too shallow", ...
  std::int64_t cycles = 0;
};

// A timed run's account of the design.
struct design_cycles {
  bool timed = false;              // QRN_TIME=cycles
  std::uint64_t total = 0;         // cycles up to and including the last transfer
  std::uint64_t first_output = 0;  // the cycle of the test bench's first read
  bool any_output = false;         // the test bench read anything
  std::string bottleneck;          // the top causes of the critical path, with their shares
  // The longest path to the last output (to the last transfer without one):
  // its cycles per cause, most first, and the cycles it covers (its last
  // part only when the run had more events than QRN_TIME_PATH_EVENTS).
  std::vector<path_cycles> critical_path;
  std::uint64_t critical_path_cycles = 0;
  bool critical_path_complete = true;
};

// One stream: live, or destroyed after it was used.
struct stream_report {
  std::string name;             // its own name, its variable's, its declaration's, or `stream<T>#N`
  std::string type;             // `qrn::stream_in<int>`
  std::uint64_t written = 0;    // elements written so far
  std::uint64_t read = 0;       // elements read so far
  std::uint64_t peak = 0;       // most elements it ever held: the FIFO depth that never blocks
  std::uint64_t occupancy = 0;  // elements it holds now
  double asleep_seconds =
      0;  // time readers slept in blocking reads of it, sleeps in progress included
  unsigned int sleepers = 0;  // readers asleep on it now
  bool printable = false;     // its elements can be written with operator<<
  std::string first_values;   // the oldest few elements it holds, when printable
  bool destroyed = false;     // destroyed before the snapshot
  bool busy = false;          // its lock was held throughout the snapshot: counts unknown
  // Sideband written to a stream that declares interface properties, which
  // its hardware interface would drop:
  bool drops_packet_flags = false;  // start/end-of-packet flags without usesPackets<true>
  bool drops_empty_counts = false;  // nonzero empty counts without usesEmpty<true>
  std::uint64_t depth = 0;  // its depth (declared, QRN_DEPTH_OVERRIDE, QRN_DEPTH_DEFAULT); 0: none
  // Who read and who wrote it, in the order first seen: `component NAME` or
  // `the test bench`. A stream should have one of each.
  std::vector<std::string> readers;
  std::vector<std::string> writers;
  stream_cycles cycles;  // in a timed run
};

// One component: always running, or a task (launch_task).
struct component_report {
  std::string name;         // its function's name (`doubler`, `stage<3>`, `pe(in_a, out_b, 2)`)
  std::uint64_t calls = 0;  // completed calls
  std::uint64_t moving_calls = 0;  // completed calls that moved at least one element
  double asleep_seconds = 0;  // slept in blocking reads and full writes, sleep in progress included
  std::string waiting_on;     // the stream it sleeps on now, or empty
  std::string last_empty;     // the stream its last empty tryRead or tryPeek found, or empty
  bool task = false;          // a task: runs its function once
  bool ended = false;         // a task whose function has returned
  std::string waiting_to_write;  // the full stream it waits to write to now, or empty
  bool stopped = false;          // stopped for good: a stream it used was destroyed
  component_cycles cycles;       // in a timed run
};

struct run_report {
  std::vector<stream_report> streams;  // in creation order
  std::vector<component_report> components;
  design_cycles cycles;  // in a timed run
};

// The statistics of every live stream (and of streams destroyed after they
// were used) and of every always-running component, now. Thread-safe;
// a stream whose lock stays taken meanwhile is marked `busy`.
run_report snapshot_run();

// Writes `report` as an aligned table.
void print_run_table(std::ostream& out, const run_report& report);

// Writes the table of snapshot_run().
void print_run_table(std::ostream& out);

// Records the stream traffic from now on and writes it to `path` when the
// process ends, however it ends: `PATH.vcd` as a Value Change Dump (GTKWave),
// `PATH.json` as Chrome trace events (Perfetto, chrome://tracing). Call it
// before the first stream operation of interest. Returns false, with one
// line on standard error and nothing traced, when the extension is neither
// or the file cannot be created. A second call (or one after QRN_TRACE
// started a trace) moves the destination and keeps what was recorded.
// Thread-safe.
bool trace_to(const std::string& path);

}  // namespace qrn

#endif  // QRN_HLS_DIAGNOSTICS_H
