// A component that polls two inputs and parks while both are empty.
// Usage: parked_poller <count>. Each round waits until the component is
// parked, writes one value to one input (the inputs take turns) and takes the
// result; the first <count> rounds wait for it in read(true), the next
// <count> call run-all and then take it with tryRead, which must find it.
// Last, run-all is called with the component parked and nothing to do.
// Prints "<2 * count> results" when every result came, in order.
#include <cstdio>
#include <thread>

#include "HLS/hls.h"
#include "HLS/internal/parking.h"
#include "HLS/runtime.h"
#include "HLS/task.h"
#include "runtime/programs/expect_results.h"

qrn::stream_in<int> first_input;
qrn::stream_in<int> second_input;
qrn::stream_out<int> out_stream;

void add_one_from_either() {
  bool success = false;
  int x = first_input.tryRead(success);
  if (!success) {
    x = second_input.tryRead(success);
  }
  if (success) {
    out_stream.write(x + 1);
  }
}

void entry() { qrn::launch_always_run<add_one_from_either>(); }

void wait_until_parked() {
  const qrn::internal::idle_parker& parker =
      *qrn::internal::always_run_record_of<add_one_from_either>().parker;
  while (!parker.parked_now()) {
    std::this_thread::yield();
  }
}

void write_round(int round) { (round % 2 == 0 ? first_input : second_input).write(round); }

int main(int argc, char** argv) {
  const int count = qrn_test::count_argument(argc, argv);
  entry();
  for (int round = 0; round < count; ++round) {
    wait_until_parked();
    write_round(round);
    const int got = out_stream.read(true);
    if (got != round + 1) {
      std::printf("round %d: got %d\n", round, got);
      return 2;
    }
  }
  for (int round = count; round < 2 * count; ++round) {
    wait_until_parked();
    write_round(round);
    __qrn_hls_component_run_all(entry);
    bool success = false;
    const int got = out_stream.tryRead(success);
    if (!success || got != round + 1) {
      std::printf("round %d: run-all returned before the result (%s %d)\n", round,
                  success ? "got" : "nothing", got);
      return 2;
    }
  }
  wait_until_parked();
  __qrn_hls_component_run_all(entry);
  std::printf("%d results\n", 2 * count);
  return 0;
}
