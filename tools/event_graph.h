// The event graph of one timed run (written with QRN_TIME_GRAPH=PATH), and
// its re-evaluation for other FIFO depths without running the program.
//
// Each node's cycle is the latest of its inputs plus a constant; the k-th
// write of a stream of depth d also waits for its (k - d)-th read. For a
// depth vector the nodes are valued in topological order (longest path); a
// dependency cycle is a deadlock. Where the graph cannot answer (a
// non-blocking operation whose answer flips, clocks the graph does not
// follow, components left stuck while the bench finishes) the evaluation
// says that a real timed run must decide. The graph is read-only once
// loaded: evaluate() may run on several threads at once.
#ifndef QRN_TOOLS_EVENT_GRAPH_H
#define QRN_TOOLS_EVENT_GRAPH_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "timed_graph_format.h"

namespace qrn_tools {

struct graph_stream {
  std::string name;
  std::uint64_t depth = 0;         // in force in the recorded run; 0: unbounded
  std::uint64_t configured = 0;    // declared (or defaulted); 0: none
  std::uint64_t element_bits = 0;  // 0: never written
  bool bench_end = false;          // the test bench writes or reads it
  std::string depth_name;          // its name when its depth was set: what overrides match
  std::vector<std::uint32_t> writes;
  std::vector<std::uint32_t> reads;
};

struct evaluation {
  enum class kind { cycles, deadlock, needs_run };
  kind verdict = kind::cycles;
  std::uint64_t cycles = 0;                // with kind::cycles
  std::vector<std::size_t> cycle_streams;  // with kind::deadlock: the streams on the cycle
  std::string why;                         // with kind::needs_run
};

// A run valued at some depths, with every event's cycle: the base from which
// runs at smaller depths are valued incrementally. Read-only once made.
struct valuation {
  std::vector<std::uint64_t> depths;
  evaluation result;
  std::vector<std::int64_t> cycle;  // by node; with result.verdict == kind::cycles
  // By node, through every input (an order one too): the last node of the
  // bench that it follows, and the first that follows it (node + 1; 0 and
  // UINT32_MAX for none). A smaller depth's inputs can close a cycle
  // through the bench's order, which no cycle count shows, only where some
  // node that waits for a delayed write also follows a bench node that
  // follows the write.
  std::vector<std::uint32_t> bench_before, bench_after;
  std::uint64_t id = 0;  // unique per valuation made
};

class event_graph {
 public:
  // The graph in `path`, or none with `error` set.
  static std::optional<event_graph> load(const std::string& path, std::string& error);

  const std::vector<graph_stream>& streams() const { return streams_; }
  std::uint64_t recorded_cycles() const { return header_.cycles; }
  // Whether what the program prints may depend on depths (it read its clock).
  bool reads_clock() const { return header_.clock_reads != 0; }
  // Whether runs at other depths can be valued on the graph at all (some
  // candidates may still need a real run; see evaluate()).
  bool answers_other_depths() const { return header_.opaque == 0 && !reads_clock(); }
  std::vector<std::uint64_t> recorded_depths() const;
  std::size_t nodes() const { return nodes_.size(); }
  std::size_t bytes() const;  // memory held

  // The run at `depths` (one per stream, 0: unbounded).
  evaluation evaluate(const std::vector<std::uint64_t>& depths) const;
  // The same, from `base` where no depth is larger than base's (0 counts as
  // the largest) and base ran through: only the events that the smaller
  // depths delay are valued again, each delay passed on to the events that
  // wait for it. Else, and when the delays keep circling (a deadlock), as
  // evaluate(depths). Thread-safe; each thread keeps scratch space the size
  // of the graph.
  evaluation evaluate(const std::vector<std::uint64_t>& depths, const valuation& base) const;
  // The run at `depths` with every event's cycle, for evaluate(depths, base).
  valuation value(const std::vector<std::uint64_t>& depths) const;

 private:
  struct role {
    std::uint32_t stream = none;
    std::uint32_t index = 0;
    bool write = false;
  };
  static constexpr std::uint32_t none = UINT32_MAX;

  evaluation evaluate(const std::vector<std::uint64_t>& depths, std::vector<std::int64_t>& cycle,
                      std::vector<std::uint32_t>* order = nullptr) const;
  // The verdict of a run that ran through with `cycle`: a non-blocking
  // answer that would flip needs a real run.
  void check_polls(const std::vector<std::uint64_t>& depths, const std::vector<std::int64_t>& cycle,
                   evaluation& result) const;
  bool circles(const std::vector<std::uint32_t>& nodes, const std::vector<std::uint64_t>& depths,
               const std::vector<std::int64_t>& base, const std::vector<std::int64_t>& cycle,
               std::vector<std::uint8_t>& marks) const;
  std::int64_t cycle_of(std::uint32_t node, std::uint32_t room,
                        const std::vector<std::int64_t>& cycle) const;
  std::uint32_t room_input(std::uint32_t node, const std::vector<std::uint64_t>& depths) const;
  std::vector<std::size_t> deadlock_cycle(const std::vector<std::uint8_t>& ran,
                                          const std::vector<std::uint64_t>& depths) const;

  qrn_graph_format::graph_header header_{};
  std::vector<qrn_graph_format::graph_node> nodes_;
  std::vector<qrn_graph_format::graph_edge> edges_;
  std::vector<std::uint8_t> bench_made_;
  std::vector<graph_stream> streams_;
  std::vector<qrn_graph_format::graph_poll> polls_;
  std::vector<role> roles_;               // by node
  std::vector<std::uint32_t> out_first_;  // static successors: out_[out_first_[n] ..)
  std::vector<std::uint32_t> out_;
};

}  // namespace qrn_tools

#endif  // QRN_TOOLS_EVENT_GRAPH_H
