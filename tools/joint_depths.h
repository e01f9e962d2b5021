// The joint FIFO sizing of qrn-depths: on one run's event graph, the depth
// vector of least total storage (depth x element bits, summed) whose cycle
// count stays within a slack of the unbounded run's, and the trade-off curve
// of storage against cycles.
#ifndef QRN_TOOLS_JOINT_DEPTHS_H
#define QRN_TOOLS_JOINT_DEPTHS_H

#include <cstdint>
#include <string>
#include <vector>

#include "event_graph.h"

namespace qrn_tools {

// What the search may change: per stream of the graph, the largest depth it
// may take (its ceiling, at which the run keeps the unbounded pace), or 0
// for a stream whose depth stays `fixed`.
struct joint_limits {
  std::vector<std::uint64_t> ceiling;
  std::vector<std::uint64_t> fixed;  // depths of the streams it may not change
};

struct joint_vector {
  bool found = false;                 // a vector within the slack
  bool least = false;                 // and no vector within it has less storage
  std::vector<std::uint64_t> depths;  // the best found, within the slack or not
  std::uint64_t cycles = 0;
  std::uint64_t bits = 0;  // sum of depth x element bits over the streams it may change
};

// Total storage of `depths` over the streams `limits` lets change.
// How many candidates least_storage values at most: the answer's search, and
// each point's of the trade-off curve.
constexpr std::uint64_t joint_evaluations = 20000;
constexpr std::uint64_t curve_evaluations = 300;

std::uint64_t storage_bits(const event_graph& graph, const joint_limits& limits,
                           const std::vector<std::uint64_t>& depths);

// The vector of least storage within `slack` (0.01: 1 %) of `unbounded`
// cycles. Each stream's lower bound is its smallest depth with the others at
// their ceilings; a descent (widest stream first, each to its smallest depth
// with the others as they stand, until a pass changes nothing) gives a first
// vector; a depth-first search over the streams then proves it least or
// finds a smaller one, cutting each branch whose storage, with the streams
// not yet set at their lower bounds, reaches the best so far. A candidate
// the graph cannot value counts as too slow. After `evaluations` candidates
// it keeps the best found (`least` false). Thread-safe.
joint_vector least_storage(const event_graph& graph, const joint_limits& limits,
                           std::uint64_t unbounded, double slack, std::uint64_t evaluations);

// The trade-off curve: least_storage at several slacks (and `slack`), each
// with `evaluations`, on one thread per processor, without points another
// point beats on both counts, fastest first.
std::vector<joint_vector> trade_off(const event_graph& graph, const joint_limits& limits,
                                    std::uint64_t unbounded, double slack,
                                    std::uint64_t evaluations);

// The curve as an SVG picture: storage in bits against cycles.
std::string trade_off_svg(const std::vector<joint_vector>& curve, std::uint64_t unbounded);

}  // namespace qrn_tools

#endif  // QRN_TOOLS_JOINT_DEPTHS_H
