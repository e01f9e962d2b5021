// Tasks that end. Mode "end": a producer and a consumer task, a task that
// computes for a while before its one write, two runs of one task, and a
// task that stays blocked in read(); after run-all every result is there,
// the report lists each run (ended or not), and the process uses next to no
// processor time while it waits. Mode "throw": a task throws.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "HLS/diagnostics.h"
#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"

qrn::internal::stream<int> between;
qrn::stream_out<int> results;
qrn::internal::stream<int> counted;
qrn::stream_in<int> never_written;

void produce(qrn::internal::stream<int>& out, int first, int count) {
  for (int i = 0; i < count; ++i) {
    out.write(first + i);
  }
}

void consume(qrn::internal::stream<int>& in, qrn::stream_out<int>& out, int count) {
  long long sum = 0;
  for (int i = 0; i < count; ++i) {
    sum += in.read();
  }
  out.write(static_cast<int>(sum));
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

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void entry() {}

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "throw") == 0) {
    std::printf("before\n");
    qrn::launch_task<fail>(never_written);
    __qrn_hls_component_run_all(entry);
    std::printf("not reached\n");
    return 0;
  }
  qrn::launch_task<consume>(qrn::named("consumer"), between, results, 1000);
  qrn::launch_task<produce>(between, 1, 1000);
  qrn::launch_task<compute>(results, 20000000);
  qrn::launch_task<produce>(counted, 0, 5);
  qrn::launch_task<produce>(counted, 0, 5);
  qrn::launch_task<wait_forever>(never_written);
  __qrn_hls_component_run_all(entry);
  bool ok = false;
  int sum = results.tryRead(ok);
  sum += results.tryRead(ok);
  (void)results.tryRead(ok);
  std::printf("results sum %d%s; counted %zu\n", sum, ok ? " and more" : "", counted.get_size());
  for (const qrn::component_report& c : qrn::snapshot_run().components) {
    std::printf("%s: calls %llu, %s\n", c.name.c_str(), static_cast<unsigned long long>(c.calls),
                c.ended  ? "ended"
                : c.task ? "running"
                         : "always running");
  }
  const double cpu_before = cpu_seconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const double cpu_used = cpu_seconds() - cpu_before;
  std::printf("idle while waiting: %s\n", cpu_used < 0.1 ? "yes" : "no");
  if (cpu_used >= 0.1) {
    std::fprintf(stderr, "used %.3f s of processor time in 0.3 s\n", cpu_used);
  }
}
