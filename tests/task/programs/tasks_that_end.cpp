// Tasks that end: a producer and a consumer, a task that computes before its
// one write, two runs of one task, and one that stays blocked in read().
// Prints the results and each run's state, and whether the process used
// processor time while it waited afterwards. With "throw": a task throws.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <stdexcept>
#include <string>
#include <thread>

#include "HLS/diagnostics.h"
#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"

qrn::internal::stream<int> between, counted;
qrn::stream_out<int> results;
qrn::stream_in<int> never_written;

void produce(qrn::internal::stream<int>& out, int first, int count) {
  for (int i = 0; i < count; ++i) {
    out.write(first + i);
  }
}

void consume(qrn::internal::stream<int>& in, qrn::stream_out<int>& out, int count) {
  int sum = 0;
  for (int i = 0; i < count; ++i) {
    sum += in.read();
  }
  out.write(sum);
}

void compute(qrn::stream_out<int>& out, int steps) {  // moves nothing until its end
  unsigned x = 1;
  for (int i = 0; i < steps; ++i) {
    x = x * 1103515245U + 12345U;
  }
  out.write(x != 0 ? 7 : 8);
}

void wait_forever(qrn::stream_in<int>& in) { (void)in.read(); }

void fail(qrn::stream_in<int>&) { throw std::runtime_error("boom"); }

void entry() {}

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "throw") {
    std::printf("before\n");
    qrn::launch_task<fail>(never_written);
    __qrn_hls_component_run_all(entry);
    std::printf("not reached\n");
  }
  qrn::launch_task<consume>(qrn::named("consumer"), between, results, 1000);
  qrn::launch_task<produce>(between, 1, 1000);
  qrn::launch_task<compute>(results, 20000000);
  qrn::launch_task<produce>(counted, 0, 5);
  qrn::launch_task<produce>(counted, 0, 5);
  qrn::launch_task<wait_forever>(never_written);
  __qrn_hls_component_run_all(entry);
  int sum = 0;
  for (bool ok = true; ok;) {
    sum += results.tryRead(ok);
  }
  std::printf("results %d, counted %zu\n", sum, counted.get_size());
  for (const qrn::component_report& c : qrn::snapshot_run().components) {
    std::printf("%s: %llu, %s\n", c.name.c_str(), static_cast<unsigned long long>(c.calls),
                c.ended  ? "ended"
                : c.task ? "running"
                         : "always running");
  }
  const std::clock_t before = std::clock();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::printf("idle: %s\n", std::clock() - before < CLOCKS_PER_SEC / 10 ? "yes" : "no");
}
