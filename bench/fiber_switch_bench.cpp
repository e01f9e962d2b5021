// The cost of one fiber switch of the QRN_SCHEDULE=fibers scheduler: the
// main stack enters a fiber, which leaves at once. Each iteration is two
// switches; `ns_per_switch` is half the time of one.
#include <benchmark/benchmark.h>

#include "fiber_stack.h"
#include "fiber_switch.h"

namespace {

void FiberSwitch(benchmark::State& state) {
  qrn_runtime::fiber_stack stack;
  qrn_runtime::fiber_switch* self = nullptr;
  qrn_runtime::fiber_switch fiber(
      stack,
      [](void* argument) {
        qrn_runtime::fiber_switch& me = **static_cast<qrn_runtime::fiber_switch**>(argument);
        for (;;) {
          me.leave();
        }
      },
      &self);
  self = &fiber;
  for (auto _ : state) {
    fiber.enter();
  }
  state.counters["ns_per_switch"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 2,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(FiberSwitch);

}  // namespace

BENCHMARK_MAIN();
