// A small test bench whose run the diagnostics describe. Usage:
//   diagnosed_run MODE [END]
// MODE chooses the run:
//   names       streams named every way (parts of variables too), two
//               components; prints the table
//   leftover    streams left holding elements, read and never read
//   hang        a two-stage pipeline whose bench writes to the wrong stream
//   slow_writer a bench thread that sleeps, then writes what main waits for
//   busy        a component that moves elements for a while before it answers
//   fatal       a component reads an empty stream without waiting
//   late        streams the end-of-run report first meets after static
//               destruction: locals declared on one line, static locals of
//               a function template and of overloads, an element of a
//               global array
// END chooses how a `names` run ends: return (default), exit, or running
// (exit while a component still runs; the default for the others).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "HLS/diagnostics.h"
#include "HLS/hls.h"
#include "HLS/runtime.h"

qrn::stream_in<int> in;
qrn::stream_out<int> out;
namespace dut {
qrn::stream_in<int> samples;
}
qrn::stream_in<int> named{"adc_samples"};
qrn::internal::stream<int> mid;
qrn::stream_in<int> misrouted;
qrn::internal::stream<int> d;  // a C name that is also a mangled type code (double)
// Streams named as parts of global variables.
qrn::stream_in<int> lanes[4];
qrn::internal::stream<int> grid[2][3];
struct stage_streams {
  qrn::stream_in<int> samples;
  qrn::stream_out<int> results;
};
struct front_end {
  int gain;
  stage_streams stage;
  qrn::stream_out<int> samples;
  qrn::stream_in<int> taps[2];
};
front_end fe;
qrn::internal::stream<int> link_[4][16];
struct stream_pair {  // same-typed members, laid out as an array of two would be
  qrn::stream_out<int> raw;
  qrn::stream_out<int> samples;
};
stream_pair pair_of;

struct opaque {  // has no operator<<
  int value;
};

void doubler() {
  bool ok = false;
  const int x = in.tryRead(ok);
  if (ok) {
    out.write(2 * x);
  }
}

namespace dut {
template <int N>
void stage() {
  bool ok = false;
  const int x = samples.tryRead(ok);
  if (ok) {
    mid.write(x + N);
  }
}
}  // namespace dut

void offset() { out.write(mid.read() + 1); }

// Moves one element around a loop 200,000 times, then answers.
void busy_answerer() {
  static int rounds = 0;
  bool ok = false;
  const int x = mid.tryRead(ok);
  if (ok) {
    if (++rounds < 200000) {
      mid.write(x);
    } else {
      out.write(x);
    }
  }
}

void reads_without_waiting() { out.write(in.read(false)); }

void entry() {}

// Each instance keeps a stream of its own.
template <int N>
void keep_in_buffer(qrn::stream_out<int>& from) {
  static qrn::internal::stream<int> buf;
  buf.write(from.read() + N);
}

// Overloads: their static locals keep the parameter lists that tell them apart.
void tally(int value) {
  static qrn::internal::stream<int> count;
  count.write(value);
}
void tally(long value) {
  static qrn::internal::stream<int> count;
  count.write(static_cast<int>(value));
}

void pass_through(qrn::internal::stream<int>& stream, int count) {
  for (int i = 0; i < count; ++i) {
    stream.write(i);
  }
  for (int i = 0; i < count; ++i) {
    (void)stream.read();
  }
}

int run_names(const std::string& end) {
  qrn::launch_always_run<doubler>();
  qrn::launch_always_run<dut::stage<3>>();
  qrn::internal::stream<int> local;
  qrn::stream_out<int> renamed;
  renamed.set_name("local_results");
  for (int i = 0; i < 5; ++i) {
    in.write(i);
  }
  dut::samples.write(1);
  // Each part passes a count of elements of its own.
  pass_through(lanes[2], 2);
  pass_through(grid[1][2], 3);
  pass_through(fe.stage.results, 4);
  pass_through(fe.samples, 5);
  pass_through(fe.taps[1], 6);
  pass_through(link_[3][15], 9);
  pass_through(pair_of.samples, 10);
  named.write(7);
  (void)named.read();
  d.write(8);
  (void)d.read();
  local.write(1);
  local.write(2);
  (void)local.read();
  __qrn_hls_component_run_all(entry);
  for (int i = 0; i < 5; ++i) {
    (void)out.read();
  }
  (void)mid.read();
  qrn::print_run_table(std::cout);
  std::cout << "done\n";
  if (end == "exit") {
    std::exit(3);
  }
  return 0;
}

int run_leftover() {
  qrn::internal::stream<opaque> unprintable;
  unprintable.write(opaque{1});
  static qrn::internal::stream<int> kept;  // destroyed holding elements
  kept.set_name("kept");
  for (int i = 0; i < 6; ++i) {
    kept.write(10 * i);
  }
  (void)kept.read();
  misrouted.write(5);
  std::cout << "done\n";
  return 0;
}

// Launches nothing: the report comes after every stream is destroyed.
int run_late() {
  qrn::stream_out<int> first, second;
  first.write(1);
  second.write(2);
  second.write(3);
  keep_in_buffer<1>(first);
  keep_in_buffer<2>(second);
  tally(5);
  tally(6L);
  lanes[1].write(4);
  std::cout << "done\n";
  return 0;
}

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const std::string end = argc > 2 ? argv[2] : "return";
  if (mode == "names") {
    return run_names(end);
  }
  if (mode == "leftover") {
    return run_leftover();
  }
  if (mode == "late") {
    return run_late();
  }
  if (mode == "hang") {
    qrn::launch_always_run<dut::stage<3>>();
    qrn::launch_always_run<offset>();
    misrouted.write(4);
    const int result = out.read();
    std::cout << "result " << result << std::endl;
  } else if (mode == "slow_writer") {
    std::thread writer([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(600));
      out.write(42);
    });
    std::cout << "result " << out.read() << std::endl;
    writer.join();
  } else if (mode == "busy") {
    qrn::launch_always_run<busy_answerer>();
    mid.write(9);
    std::cout << "result " << out.read() << std::endl;
  } else if (mode == "fatal") {
    qrn::launch_always_run<reads_without_waiting>();
    const int result = out.read();
    std::cout << "result " << result << std::endl;
  }
  return 0;
}
