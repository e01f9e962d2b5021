// Writers that fill an unbounded stream no one reads. Usage:
//   runaway_stream WHO [COUNT]
// WHO is `generator` (a component that writes on every call, where it should
// have waited for a trigger; the bench waits for run-all) or `bench` (the
// bench writes). The writing ends after COUNT elements (default 2^20, 16 MiB
// of storage: a run without a ceiling ends too), and the bench then reads
// them all and prints their sum.
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>

#include "HLS/hls.h"
#include "HLS/runtime.h"

qrn::internal::stream<std::uint64_t> samples;
std::uint64_t count_limit = std::uint64_t{1} << 20;

void generator() {
  static std::uint64_t next = 0;
  if (next < count_limit) {
    samples.write(next++);
  }
}

int main(int argc, char** argv) {
  const std::string who = argc > 1 ? argv[1] : "";
  if (argc > 2) {
    count_limit = std::strtoull(argv[2], nullptr, 10);
  }
  if (who == "generator") {
    qrn::launch_always_run<generator>();
    __qrn_hls_component_run_all(nullptr);
  } else if (who == "bench") {
    for (std::uint64_t i = 0; i < count_limit; ++i) {
      samples.write(i);
    }
  } else {
    std::cerr << "usage: runaway_stream generator|bench [COUNT]\n";
    return 2;
  }
  std::uint64_t sum = 0;
  for (bool ok = true; ok;) {
    sum += samples.tryRead(ok);
  }
  std::cout << "sum " << sum << "\n";
  return 0;
}
