// The qrn side of qrn_vs_systemc (see chain_shapes.h).
// Usage: qrn_chain_child polling|blocking|doubling <stages> <elements>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"
#include "chain_shapes.h"

namespace {

using qrn_vs_systemc::most_stages;
using steady = std::chrono::steady_clock;

qrn::stream_in<int> links[most_stages + 1];  // stage i reads links[i], writes links[i + 1]

template <int i>
void polling_stage() {
  bool success = false;
  const int x = links[i].tryRead(success);
  if (success) {
    links[i + 1].write(x + 1);
  }
}

template <int i>
void blocking_stage() {
  links[i + 1].write(links[i].read(true) + 1);
}

using launch_fn = void (*)();
using launchers = std::array<launch_fn, most_stages>;

template <int... i>
launchers polling_launchers(std::integer_sequence<int, i...> /*unused*/) {
  return {{&qrn::launch_always_run<polling_stage<i>>...}};
}

template <int... i>
launchers blocking_launchers(std::integer_sequence<int, i...> /*unused*/) {
  return {{&qrn::launch_always_run<blocking_stage<i>>...}};
}

long long nanoseconds_since(steady::time_point started) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(steady::now() - started).count();
}

int run_chain(const launchers& stages, int count, long elements) {
  for (int i = 0; i < count; ++i) {
    stages[static_cast<std::size_t>(i)]();
  }
  const steady::time_point started = steady::now();
  for (long i = 0; i < elements; ++i) {
    links[0].write(qrn_vs_systemc::element(i));
  }
  for (long i = 0; i < elements; ++i) {
    const int got = links[count].read(true);
    if (got != qrn_vs_systemc::after_chain(i, count)) {
      std::printf("element %ld came out as %d\n", i, got);
      return 1;
    }
  }
  std::printf("%lld\n", nanoseconds_since(started));
  return 0;
}

// The sample's component and test bench, at scale.
qrn::stream_in<int> in_stream;
qrn::stream_out<int> out_stream;

void doubler() {
  bool success = false;
  const int x = in_stream.tryRead(success);
  if (success) {
    success = out_stream.tryWrite(static_cast<int>(static_cast<unsigned int>(x) << 1));
  }
}

void entry() { qrn::launch_always_run<doubler>(); }

int run_doubling(long elements) {
  const steady::time_point started = steady::now();
  for (long i = 0; i < elements; ++i) {
    in_stream.write(qrn_vs_systemc::element(i));
  }
  entry();
  __qrn_hls_component_run_all(entry);
  for (long i = 0; i < elements; ++i) {
    bool success = false;
    const int got = out_stream.tryRead(success);
    if (!success || got != qrn_vs_systemc::doubled(i)) {
      std::printf("element %ld: %s %d after run-all\n", i, success ? "got" : "nothing", got);
      return 1;
    }
  }
  std::printf("%lld\n", nanoseconds_since(started));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string shape = argc == 4 ? argv[1] : "";
  const int stages = argc == 4 ? std::atoi(argv[2]) : 0;
  const long elements = argc == 4 ? std::atol(argv[3]) : 0;
  if (stages < 1 || stages > most_stages || elements < 1) {
    std::printf("usage: %s polling|blocking|doubling <stages 1-%d> <elements>\n", argv[0],
                most_stages);
    return 1;
  }
  if (shape == "polling") {
    return run_chain(polling_launchers(std::make_integer_sequence<int, most_stages>()), stages,
                     elements);
  }
  if (shape == "blocking") {
    return run_chain(blocking_launchers(std::make_integer_sequence<int, most_stages>()), stages,
                     elements);
  }
  if (shape == "doubling") {
    return run_doubling(elements);
  }
  std::printf("unknown shape %s\n", shape.c_str());
  return 1;
}
