// The event graph of a timed run, recorded with QRN_TIME_GRAPH=PATH and
// written to PATH when the process ends (format: timed_graph_format.h).
//
// Every transfer and every non-blocking operation of a component is a node;
// its inputs are the constraints of the timing rules that decided its cycle:
// the caller's clock, the previous use of the same stream end, the element's
// write (a read), room freed by a read (a write; this edge depends on the
// depth and is not stored), and the bench's hold. The tools re-evaluate the
// graph for other depths without running the program again.
//
// The timed run's rules call these hooks where they apply, only while
// graph_recording(): a run that does not record keeps no node. Main thread
// only, like the rest of a timed run.
#ifndef QRN_RUNTIME_TIMED_GRAPH_H
#define QRN_RUNTIME_TIMED_GRAPH_H

#include <cstdint>
#include <string>

#include "HLS/internal/stream_registry.h"
#include "HLS/internal/timed_run.h"

namespace qrn_runtime {

extern bool graph_on;  // set once at start-up, from QRN_TIME_GRAPH

inline bool graph_recording() { return graph_on; }

// Reads QRN_TIME_GRAPH: a path whose file can be written, else one line.
void configure_timed_graph();
// Writes the file, when recording. At the end of the run.
void write_timed_graph();
// The stream's depth was set while it had `name`. Any thread.
void graph_depth_named(std::uint64_t serial, const std::string& name);

// ---- The transfers, after the rule decided their cycle. `before`: the
// caller's clock before the operation; `stage`: the access's cycles after
// that clock; `spacing`: cycles until the caller's next use of the same end.
void graph_write(const qrn::internal::timed_stream_ref& stream,
                 qrn::internal::component_clock& clock, std::uint64_t before, std::uint64_t stage,
                 std::uint64_t spacing, std::uint64_t entering);
void graph_read(qrn::internal::stream_info& stream, qrn::internal::component_clock& clock,
                std::uint64_t before, std::uint64_t stage, std::uint64_t spacing,
                std::uint64_t cycle);
void graph_bench_write(const qrn::internal::timed_stream_ref& stream, std::uint64_t entering);
void graph_bench_read(qrn::internal::stream_info& stream, std::uint64_t cycle);
// The last write threw: its element never entered.
void graph_unwrite(qrn::internal::stream_info& stream);

// ---- Non-blocking operations. `at`: the cycle the caller asked at (a
// write: the cycle its element would enter), `stage` cycles after its
// clock; a refused one used the end for that cycle.
void graph_poll(qrn::internal::stream_info& stream, qrn::internal::component_clock& clock,
                std::uint64_t before, bool readable, bool answer, std::uint64_t stage,
                std::uint64_t spacing, std::uint64_t at);
// The bench's answers depend on what the components did before, not on cycles.
void graph_bench_poll();

// A component's clock starts: at `launcher`'s clock, or (no launcher) at 0
// after the bench's latest operation.
void graph_launched(qrn::internal::component_clock& clock,
                    qrn::internal::component_clock* launcher);

// ---- Clock moves between transfers: a component's clock moves on by
// `cycles` from `before` (ii after a call, qrn::cycles); the bench's hold
// moves to `hold`. A clock move that no hook reports makes the graph
// opaque where the clock is next used.
void graph_clock_spent(qrn::internal::component_clock& clock, std::uint64_t before,
                       std::uint64_t cycles);
void graph_bench_spent(std::uint64_t hold);
// The program read a clock (qrn::cycle()): what it prints may depend on depths.
void graph_clock_read();

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_TIMED_GRAPH_H
