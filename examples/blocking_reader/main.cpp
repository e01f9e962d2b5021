// Example: an always-running component that blocks for its input.
//
// `moving_average` emits, for every input sample, the mean of the last four
// samples (of fewer while fewer have arrived), rounded down. Instead of polling
// with tryRead it waits in `read(true)`: its worker thread sleeps on the input
// stream, using no processor time, until the bench writes the next sample.
//
// Blocking rules:
// - `read(true)` on an empty stream sleeps until some thread writes to it;
//   with no writer it sleeps for ever. `read(false)` on an empty stream is
//   fatal ("Error: Cannot do a blocking read ..."; exit status 1).
// - A component that blocks still counts as quiet for
//   __qrn_hls_component_run_all while it sleeps with no element on its way,
//   so the bench's call returns as soon as every sample has been averaged.
// - The bench itself never blocks: after the runtime returns it polls with
//   tryRead, so a missing result shows as a short count instead of a hang.
#include <iostream>
#include <vector>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"

namespace {

constexpr int window = 4;

qrn::stream_in<int> samples_in;
qrn::stream_out<int> averages_out;

// One sample per call. The window lives across calls and only the worker
// thread touches it.
void moving_average() {
  static int recent[window] = {};
  static int count = 0;  // samples seen, up to `window`
  static int next = 0;   // slot of `recent` that the next sample overwrites
  static long sum = 0;   // of the samples in `recent`

  const int sample = samples_in.read(true);  // sleeps until a sample arrives
  sum += sample - recent[next];
  recent[next] = sample;
  next = (next + 1) % window;
  if (count < window) {
    ++count;
  }
  averages_out.write(static_cast<int>(sum / count));
}

void moving_average_entry() { qrn::launch_always_run<moving_average>(); }

// Writes `samples`, lets the component settle, then prints every average.
void run_round(int round, const std::vector<int>& samples) {
  for (const int sample : samples) {
    samples_in.write(sample);
  }
  std::cout << "round " << round << ": wrote " << samples.size() << " samples\n";

  // Launches the component on the first round, then returns once it sleeps in
  // read(true) on an empty input: every sample written has been averaged.
  moving_average_entry();
  __qrn_hls_component_run_all(moving_average_entry);

  bool success = false;
  for (int average = averages_out.tryRead(success); success;
       average = averages_out.tryRead(success)) {
    std::cout << "average " << average << '\n';
  }
}

}  // namespace

int main() {
  run_round(1, {4, 8, 12, 16, 20, 0});
  // The component has slept since round 1; these samples wake it.
  run_round(2, {100, 3});
  return 0;
}
