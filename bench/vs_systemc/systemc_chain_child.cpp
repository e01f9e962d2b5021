// The SystemC side of qrn_vs_systemc (see chain_shapes.h).
// Usage: systemc_chain_child chain|doubling <stages> <elements>
// The simulation kernel elaborates once per process, so every configuration
// runs in a process of its own.
#include <systemc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "chain_shapes.h"

namespace {

using steady = std::chrono::steady_clock;

// Adds 1 (or doubles) every element from `in` and writes it to `out`.
SC_MODULE(stage) {
  sc_fifo_in<int> in;
  sc_fifo_out<int> out;
  bool doubling = false;

  void run() {
    for (;;) {
      const int x = in.read();
      out.write(doubling ? static_cast<int>(static_cast<unsigned int>(x) << 1) : x + 1);
    }
  }

  SC_CTOR(stage) { SC_THREAD(run); }
};

// Writes the elements, reads them back through the chain and checks them.
SC_MODULE(test_bench) {
  sc_fifo_out<int> to_chain;
  sc_fifo_in<int> from_chain;
  long elements = 0;
  int stages = 0;
  bool doubling = false;
  steady::time_point started;
  long long nanoseconds = 0;
  bool failed = false;

  void source() {
    started = steady::now();
    for (long i = 0; i < elements; ++i) {
      to_chain.write(qrn_vs_systemc::element(i));
    }
  }

  void sink() {
    for (long i = 0; i < elements; ++i) {
      const int got = from_chain.read();
      const int expected =
          doubling ? qrn_vs_systemc::doubled(i) : qrn_vs_systemc::after_chain(i, stages);
      if (got != expected) {
        std::printf("element %ld came out as %d\n", i, got);
        failed = true;
        break;
      }
    }
    nanoseconds =
        std::chrono::duration_cast<std::chrono::nanoseconds>(steady::now() - started).count();
    sc_stop();
  }

  SC_CTOR(test_bench) {
    SC_THREAD(source);
    SC_THREAD(sink);
  }
};

}  // namespace

int sc_main(int argc, char* argv[]) {
  const std::string shape = argc == 4 ? argv[1] : "";
  const int stages = argc == 4 ? std::atoi(argv[2]) : 0;
  const long elements = argc == 4 ? std::atol(argv[3]) : 0;
  const bool doubling = shape == "doubling";
  if ((shape != "chain" && !doubling) || stages < 1 || stages > qrn_vs_systemc::most_stages ||
      elements < 1 || (doubling && stages != 1)) {
    std::printf("usage: %s chain <stages 1-%d> <elements> | doubling 1 <elements>\n", argv[0],
                qrn_vs_systemc::most_stages);
    return 1;
  }
  sc_report_handler::set_actions(SC_INFO, SC_DO_NOTHING);  // no copyright banner notes
  std::vector<std::unique_ptr<sc_fifo<int>>> fifos;
  for (int i = 0; i <= stages; ++i) {
    fifos.emplace_back(
        new sc_fifo<int>(("link" + std::to_string(i)).c_str(), qrn_vs_systemc::systemc_fifo_depth));
  }
  std::vector<std::unique_ptr<stage>> chain;
  for (int i = 0; i < stages; ++i) {
    chain.emplace_back(new stage(("stage" + std::to_string(i)).c_str()));
    chain.back()->doubling = doubling;
    chain.back()->in(*fifos[static_cast<std::size_t>(i)]);
    chain.back()->out(*fifos[static_cast<std::size_t>(i) + 1]);
  }
  test_bench bench("bench");
  bench.elements = elements;
  bench.stages = stages;
  bench.doubling = doubling;
  bench.to_chain(*fifos.front());
  bench.from_chain(*fifos.back());
  sc_start();
  if (bench.failed) {
    return 1;
  }
  std::printf("%lld\n", bench.nanoseconds);
  return 0;
}
