// The file a timed run writes its event graph to (QRN_TIME_GRAPH=PATH), read
// by the tools (tools/event_graph.h). Native byte order; one machine writes
// and reads it.
//
//   graph_header
//   graph_node[header.nodes]        node 0 is the run's start, cycle 0
//   graph_edge[header.edges]        each node's inputs, node by node
//   std::uint8_t[header.nodes]      1 where the test bench made the node
//   per stream: graph_stream_header, its name's bytes, its depth name's bytes,
//               std::uint32_t[writes] write nodes, std::uint32_t[reads] read nodes
//   graph_poll[header.polls]
//
// A node's cycle is `post` plus the latest of its inputs, each an input
// node's cycle plus the edge's weight. A write node's cycle is the cycle its
// element enters the FIFO; a read node's the cycle it is read. Besides the
// edges in the file, the k-th write of a stream of depth d (0: unbounded)
// has the input (read k - d) + 1 whenever k >= d. Static edges always come
// from an earlier node; depth edges may not.
#ifndef QRN_RUNTIME_TIMED_GRAPH_FORMAT_H
#define QRN_RUNTIME_TIMED_GRAPH_FORMAT_H

#include <array>
#include <cstdint>

namespace qrn_graph_format {

constexpr std::array<char, 8> magic = {'Q', 'R', 'N', 'G', 'R', 'P', 'H', '2'};

struct graph_header {
  std::array<char, 8> magic{};
  std::uint64_t nodes = 0;
  std::uint64_t edges = 0;
  std::uint64_t streams = 0;
  std::uint64_t polls = 0;
  // Clock moves that no edge explains (an always-running component skipping
  // idle calls, a write that threw), streams with several writers or
  // readers, and non-blocking answers of the test bench: the graph then
  // answers only for the depths it was recorded at.
  std::uint64_t opaque = 0;
  std::uint64_t cycles = 0;  // the run's cycle count
  // Calls of qrn::cycle() (a component launched by another makes one): what
  // the program prints may depend on the depths, so only a run can judge it.
  std::uint64_t clock_reads = 0;
};

struct graph_node {
  std::uint32_t first_edge = 0;  // its inputs: edges [first_edge, next node's first_edge)
  std::uint32_t post = 0;        // cycles after the latest input (the bench's stall model)
  std::uint64_t cycle = 0;       // its cycle in the recorded run
};

struct graph_edge {
  std::uint32_t from = 0;
  std::int32_t weight = 0;
};

// The weight of an edge that orders two nodes without bearing on the later
// one's cycle: the test bench's operations in program order, a component's
// first operation after the bench's operation that launched it. A node runs
// only once every input ran.
constexpr std::int32_t order_only = INT32_MIN;

struct graph_stream_header {
  std::uint32_t name_bytes = 0;
  std::uint32_t element_bits = 0;  // its element's width; 0: never written
  std::uint64_t depth = 0;         // in force in the recorded run; 0: unbounded
  std::uint64_t configured = 0;    // declared, defaulted or overridden; 0: none
  std::uint64_t writes = 0;
  std::uint64_t reads = 0;
  // The bytes of the name it had when its depth was set (the name that
  // QRN_DEPTH_OVERRIDE matches); 0 also when its depth was set before the
  // run recorded.
  std::uint64_t depth_name_bytes = 0;
};

// A non-blocking answer of a component. `readable`: element `index` of the
// stream is readable at the node's cycle, i.e. written and its write's cycle
// + 1 <= the node's. Else room for write `index`: index < depth, or read
// (index - depth) happened and its cycle + 1 <= the node's cycle + offset.
struct graph_poll {
  std::uint32_t stream = 0;
  std::uint32_t node = 0;
  std::uint64_t index = 0;
  std::int32_t offset = 0;
  std::uint8_t readable = 0;
  std::uint8_t answer = 0;
  std::array<std::uint8_t, 2> unused{};
};

}  // namespace qrn_graph_format

#endif  // QRN_RUNTIME_TIMED_GRAPH_FORMAT_H
