// Cycles of waits for the hang report: a thread waits on a stream, the
// stream waits on the one thread at its other end (its writer when the
// thread reads, its reader when it writes), which waits on another stream...
#ifndef QRN_RUNTIME_WAIT_CYCLES_H
#define QRN_RUNTIME_WAIT_CYCLES_H

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "HLS/diagnostics.h"

namespace qrn_runtime {

// A thread asleep on a stream: `who` as stream_report::readers names it
// (`component NAME`, `the test bench`), the stream's display name, and
// whether it waits for room to write.
struct waiting_thread {
  std::string who;
  std::string stream;
  bool writing;
};

// A cycle of waits: as `splitter -> wide -> joiner -> narrow -> splitter`,
// and the indices of its threads in the list given to wait_cycles (one: a
// thread that waits on a stream only it writes, or only it reads).
struct wait_cycle {
  std::string text;
  std::vector<std::size_t> threads;
};

// Each cycle the waits form through streams whose one reader and one writer
// the run has seen, once. `streams` gives each stream's report by display
// name.
std::vector<wait_cycle> wait_cycles(
    const std::vector<waiting_thread>& waiting,
    const std::map<std::string, const qrn::stream_report*>& streams);

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_WAIT_CYCLES_H
