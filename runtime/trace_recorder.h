// The trace recorder: what the stream operations, the blocking reads and the
// always-running loops report while a trace is on (QRN_TRACE, qrn::trace_to),
// kept in memory per thread and written to the trace file when the process
// ends (see trace_files.h for the formats).
#ifndef QRN_RUNTIME_TRACE_RECORDER_H
#define QRN_RUNTIME_TRACE_RECORDER_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "HLS/internal/stream_registry.h"

namespace qrn_runtime {

enum class trace_event_kind : std::uint8_t {
  occupancy = 1,     // a stream's occupancy changed
  thread_state = 2,  // a thread entered a state (qrn::internal::trace_thread_state)
  burst = 3,         // consecutive component calls that moved elements
};

// One recorded event; 32 bytes. Times are steady-clock nanoseconds since the
// process started.
struct trace_event {
  // occupancy, thread_state: when; burst: when its first call began.
  std::uint64_t ns;
  // occupancy: the stream's serial; thread_state: the serial of the stream
  // polled or slept on, 0 for none; burst: the number of calls.
  std::uint64_t subject;
  // occupancy: the elements the stream holds after the change;
  // thread_state: the state; burst: when its last call returned.
  std::uint64_t value;
  // The kind in the top byte; occupancy: bit 55 set for a write, and in the
  // low bits the stream's operation count after the change (its order among
  // the stream's changes); burst: the elements moved.
  std::uint64_t tagged;

  static constexpr int kind_shift = 56;
  static constexpr std::uint64_t write_bit = std::uint64_t{1} << 55;
  static constexpr std::uint64_t payload_mask = write_bit - 1;

  trace_event_kind kind() const { return static_cast<trace_event_kind>(tagged >> kind_shift); }
  std::uint64_t payload() const { return tagged & payload_mask; }
  bool is_write() const { return (tagged & write_bit) != 0; }
};

enum class trace_format { vcd, json };

// The events of one thread, in the order it recorded them.
struct traced_thread {
  unsigned int ordinal = 0;  // from 1, in the order threads first recorded
  std::string name;          // "test bench", a component's name, "thread N"
  bool component = false;
  std::vector<trace_event> events;
};

// Everything a trace file is written from.
struct recorded_trace {
  trace_format format = trace_format::vcd;
  bool in_cycles = false;      // a timed run: every time is a cycle, not ns
  std::uint64_t start_ns = 0;  // when recording began
  std::uint64_t end_ns = 0;    // when the process ended, or where the trace was cut
  bool cut = false;            // the event limit was reached at end_ns
  std::uint64_t limit = 0;     // QRN_TRACE_LIMIT
  std::uint64_t events = 0;    // events kept
  std::map<std::uint64_t, std::string> stream_names;  // by serial
  std::vector<traced_thread> threads;
};

// Reads QRN_TRACE and QRN_TRACE_LIMIT, installs the recorder's hooks and,
// when QRN_TRACE names a file, starts recording. A bad value gets one line
// on standard error. Called once, while the runtime is initialised.
void configure_trace();

// Records from now on into `path`; see qrn::trace_to in HLS/diagnostics.h.
// `origin` names the setting or call that asked, in messages about the file;
// `request` shows the request in the line that rejects a bad extension
// ("QRN_TRACE=run.txt", "qrn::trace_to(run.txt)").
bool start_trace(const std::string& path, const std::string& origin, const std::string& request);

// The calling thread's track, or null before it records its first event.
// The fiber scheduler keeps one per fiber and swaps it in and out with the
// fiber, so that each component has its own track on the main thread.
// Hidden: the runtime's own, also when it is a shared library.
__attribute__((visibility("hidden"))) inline void*& this_thread_trace_slot() {
  static thread_local void* mine = nullptr;
  return mine;
}

// In a timed run (QRN_TIME=cycles) every time is a cycle and a stream's
// occupancy is recorded by its cycle statistics (see timed_occupancy.h),
// in cycle order, through this: the stream held `held` elements from
// `cycle` on, after its `order`-th change, an element added (`added`) or
// taken. Main thread only.
void trace_cycle_occupancy(const qrn::internal::stream_info& stream, std::uint64_t cycle,
                           std::uint64_t held, bool added, std::uint64_t order) noexcept;

// Ends recording and writes the trace file. Called once, by the ending of
// the process (report_end_of_run); does nothing when no trace was started.
void finish_trace();

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_TRACE_RECORDER_H
