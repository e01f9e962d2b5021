// A test bench whose run ends in the way its first argument names, for the
// trace tests. The traffic is the same in every mode: the test bench writes
// `count` integers to `tb_in`; `doubler` (polls) writes each one doubled to
// `doubled`; `forwarder` (blocks in read(true)) adds one and writes it to
// `results`, which the test bench reads with read(true). Then:
//
//   settled          run-all, then main returns while the components run on
//   unsettled        main returns right after the last result
//   exit             run-all, then exit(3)
//   fatal-main       run-all, then read(false) of an empty stream on main
//   fatal-component  run-all, then a component reads an empty stream with
//                    read(false) while main sleeps in read(true)
//   throw            run-all, then a component throws while main sleeps
//   hang             run-all, then main sleeps for good in read(true)
//                    (run with QRN_ON_HANG=exit)
//   no-components    no component: a thread of the test bench echoes in
//                    place of the two stages, a stream named `scratch` is
//                    used and destroyed, and main returns with nothing
//                    running
//   api PATH         as settled, tracing through qrn::trace_to(PATH)
//   odd-bytes        as settled, then the test bench leaves the bytes C3 FF
//                    'a' in a stream of unsigned char whose name holds a
//                    quote, a tab, a newline and bytes that are no UTF-8
//
// The second argument (after PATH for api) is `count`, default 100.
// Standard output: "sum N" of the results, then the mode's own lines.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>

#include "HLS/diagnostics.h"
#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"

qrn::stream_in<int> tb_in;
qrn::stream_out<int> doubled;
qrn::stream_out<int> results;
qrn::stream_in<int> never_written;
qrn::stream_in<int> trap;

void doubler() {
  bool ok = false;
  const int x = tb_in.tryRead(ok);
  if (ok) {
    doubled.write(2 * x);
  }
}

void forwarder() { results.write(doubled.read(true) + 1); }

void reads_without_waiting() { (void)trap.read(false); }

void throws() { throw std::runtime_error("trace test"); }

void pipeline() {
  qrn::launch_always_run<doubler>();
  qrn::launch_always_run<forwarder>();
}

namespace {

long long feed_and_collect(int count) {
  for (int i = 0; i < count; ++i) {
    tb_in.write(i);
  }
  long long sum = 0;
  for (int i = 0; i < count; ++i) {
    sum += results.read(true);
  }
  return sum;
}

// The echo of no-components mode: the two stages in one plain thread.
long long without_components(int count) {
  std::thread echo([count] {
    for (int i = 0; i < count; ++i) {
      doubled.write(2 * tb_in.read(true));
      results.write(doubled.read(true) + 1);
    }
  });
  long long sum = feed_and_collect(count);
  echo.join();
  qrn::internal::stream<int> scratch("scratch");
  scratch.write(1);
  scratch.write(2);
  sum += scratch.read() + scratch.read();
  return sum;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "settled";
  int next = 2;
  if (mode == "api") {
    if (argc < 3 || !qrn::trace_to(argv[2])) {
      std::cout << "trace_to refused\n";
    }
    next = 3;
  }
  const int count = argc > next ? std::atoi(argv[next]) : 100;

  if (mode == "no-components") {
    std::cout << "sum " << without_components(count) << "\n";
    return 0;
  }
  pipeline();
  std::cout << "sum " << feed_and_collect(count) << "\n";
  if (mode == "unsettled") {
    return 0;
  }
  __qrn_hls_component_run_all(pipeline);
  std::cout << "settled\n" << std::flush;
  if (mode == "exit") {
    std::exit(3);
  }
  if (mode == "fatal-main") {
    (void)tb_in.read(false);
  }
  if (mode == "fatal-component") {
    qrn::launch_always_run<reads_without_waiting>();
    (void)never_written.read(true);
  }
  if (mode == "throw") {
    qrn::launch_always_run<throws>();
    (void)never_written.read(true);
  }
  if (mode == "hang") {
    (void)never_written.read(true);
  }
  if (mode == "odd-bytes") {
    static qrn::internal::stream<unsigned char> odd("bytes \xC3( \"q\"\t\n\xE2\x82");
    const unsigned char bytes[] = {0xC3, 0xFF, 'a'};
    for (const unsigned char byte : bytes) {
      odd.write(byte);
    }
  }
  return 0;
}
