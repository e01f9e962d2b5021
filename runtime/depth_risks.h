// Which streams of an unbounded run could deadlock at their declared depth.
// An unbounded emulation always lets a producer run ahead, so a peak above
// the declared depth alone says nothing; it points at a probable fault where
// the stream's reader may wait for its writer through another way: the stream
// lies on a loop of components, or its writer reaches its reader also through
// other streams (a fork that joins again). Streams the test bench writes or
// reads take no part: the bench's side of a run is not hardware.
#ifndef QRN_RUNTIME_DEPTH_RISKS_H
#define QRN_RUNTIME_DEPTH_RISKS_H

#include <cstddef>
#include <vector>

#include "HLS/diagnostics.h"

namespace qrn_runtime {

// The indexes into report.streams of the streams, past their depth or not,
// that lie on a loop of components or between two components that another
// chain of streams also joins, in order.
std::vector<std::size_t> streams_a_small_depth_can_deadlock(const qrn::run_report& report);

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_DEPTH_RISKS_H
