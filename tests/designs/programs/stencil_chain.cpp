// A ten-stage stencil pipeline of tasks. Each transaction is a run of samples
// closed by an end token; every stage smooths it with the three-point stencil
// (1, 2, 1), repeating the edge samples, and must look at the next element
// with tryPeek to know whether the current sample is the last. A source and a
// sink task close the chain: twelve tasks. The bench prints one checksum per
// transaction.
#include <cstdio>

#include "HLS/hls.h"
#include "HLS/task.h"

constexpr int stages = 10;
constexpr int transactions = 3;
constexpr int lengths[transactions] = {7, 1, 12};
constexpr long long modulus = 1000003;

struct token {
  long long value;
  bool end;
};

long long smoothed(long long before, long long at, long long after) {
  return (before + 2 * at + after) % modulus;
}

void source(qrn::stream<token>& out) {
  for (int t = 0; t < transactions; ++t) {
    for (int i = 0; i < lengths[t]; ++i) {
      out.write({(i * 37 + t * 11) % 101, false});
    }
    out.write({0, true});
  }
}

void stencil(qrn::stream<token>& in, qrn::stream<token>& out) {
  for (int t = 0; t < transactions; ++t) {
    long long before = in.read().value;
    long long at = before;
    for (;;) {
      bool ok = false;
      const token next = in.tryPeek(ok);
      if (!ok) {
        continue;
      }
      if (next.end) {
        break;
      }
      (void)in.read();
      out.write({smoothed(before, at, next.value), false});
      before = at;
      at = next.value;
    }
    out.write({smoothed(before, at, at), false});
    out.write(in.read());
  }
}

void sink(qrn::stream<token>& in, qrn::stream<long long>& checksums) {
  for (int t = 0; t < transactions; ++t) {
    long long checksum = 0;
    int position = 0;
    for (token x = in.read(); !x.end; x = in.read()) {
      checksum = (checksum + x.value * ++position) % modulus;
    }
    checksums.write(checksum);
  }
}

int main() {
  qrn::stream<token> wires[stages + 1];
  qrn::stream<long long> checksums;
  qrn::launch_task<source>(wires[0]);
  for (int k = 0; k < stages; ++k) {
    qrn::launch_task<stencil>(wires[k], wires[k + 1]);
  }
  qrn::launch_task<sink>(wires[stages], checksums);
  for (int t = 0; t < transactions; ++t) {
    std::printf("transaction %d (%d samples): %lld\n", t, lengths[t], checksums.read());
  }
  return 0;
}
