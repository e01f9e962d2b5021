// Two polling instances of one body on their own streams and a named
// blocking one with a struct argument, each launched more than once
// (concurrently, and with equal copies). Prints the sums of the results and
// each component's name; then two rounds of an instance on local streams.
// With "bytes": prints the name of a component launched with byte-sized
// integers.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>

#include "HLS/diagnostics.h"
#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"

qrn::stream_in<int> in_a, in_b, in_c;
qrn::stream_out<int> out_a, out_b, out_c;

void entry_of_nothing() {}

struct gain {  // no operator==: compared byte for byte
  int times;
  int plus;
};

void scale(qrn::stream_in<int>& in, qrn::stream_out<int>& out, int k) {
  bool ok = false;
  const int x = in.tryRead(ok);
  if (ok) {
    out.write(k * x);
  }
}

void affine(qrn::stream_in<int>& in, qrn::stream_out<int>& out, gain g) {
  out.write(g.times * in.read() + g.plus);
}

// Byte-sized integer parameters, by reference and by value.
void tune(qrn::stream_in<int>& in, std::uint8_t& gain, std::int8_t bias, unsigned char low,
          signed char high, char letter, bool on) {
  bool ok = false;
  const int x = in.tryRead(ok);
  if (ok && on) {
    out_a.write(gain * x + bias + low + high + letter);
  }
}

void print_component_names() {
  for (const qrn::component_report& c : qrn::snapshot_run().components) {
    std::printf("| %s ", c.name.c_str());
  }
  std::printf("\n");
}

void launch_with_bytes() {
  static std::uint8_t gain = 3;
  qrn::launch_always_run<tune>(in_a, gain, std::int8_t{-2}, static_cast<unsigned char>(0),
                               static_cast<signed char>(7), '\n', true);
  __qrn_hls_component_run_all(entry_of_nothing);
  print_component_names();
}

// One round on streams local to it: a new instance each time, even where
// the new streams take the addresses of the last round's.
int local_round(int x) {
  struct {
    qrn::stream_in<int> in;
    qrn::stream_out<int> out;
  } local;
  qrn::launch_always_run<scale>(local.in, local.out, 5);
  local.in.write(x);
  __qrn_hls_component_run_all(entry_of_nothing);
  bool ok = false;
  return local.out.tryRead(ok);
}

void entry() {
  qrn::launch_always_run<scale>(in_a, out_a, 2);
  qrn::launch_always_run<scale>(in_b, out_b, 3);
  qrn::launch_always_run<affine>(qrn::named("affine0"), in_c, out_c, gain{10, 1});
}

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "bytes") == 0) {
    launch_with_bytes();
    return 0;
  }
  for (int i = 1; i <= 100; ++i) {
    in_a.write(i);
    in_b.write(i);
    in_c.write(i);
  }
  std::thread other(entry);
  entry();
  other.join();
  const int two = 1 + 1;
  qrn::launch_always_run<scale>(in_a, out_a, two);
  __qrn_hls_component_run_all(entry);
  entry();
  for (qrn::stream_out<int>* out : {&out_a, &out_b, &out_c}) {
    int sum = 0;
    for (bool ok = true; ok;) {
      sum += out->tryRead(ok);
    }
    std::printf("%d ", sum);
  }
  print_component_names();
  const int first = local_round(1);
  std::printf("%d %d\n", first, local_round(2));
}
