// A looping task with state: `rr` is launched once and runs for ever, taking
// turns between its two inputs with tryRead and keeping whose turn it is in a
// local. Two producer tasks feed it; the merged order is strict alternation
// however they are scheduled. The streams are local to main, which returns
// while rr still waits for its next element.
#include <cstdio>

#include "HLS/hls.h"
#include "HLS/task.h"

constexpr int per_input = 10;

void rr(qrn::stream<int>& a, qrn::stream<int>& b, qrn::stream<int>& out) {
  int turn = 0;
  for (;;) {
    bool ok = false;
    const int x = (turn == 0 ? a : b).tryRead(ok);
    if (ok) {
      out.write(x);
      turn = 1 - turn;
    }
  }
}

void produce(qrn::stream<int>& out, int first, int count) {
  for (int i = 0; i < count; ++i) {
    out.write(first + i);
  }
}

int main() {
  qrn::stream<int> a, b;
  qrn::stream<int, qrn::buffer<2>> merged;
  qrn::launch_task<rr>(a, b, merged);
  qrn::launch_task<produce>(b, 100, per_input);
  qrn::launch_task<produce>(a, 1, per_input);
  for (int i = 0; i < 2 * per_input; ++i) {
    std::printf("%s%d", i == 0 ? "" : " ", merged.read());
  }
  std::printf("\n");
  return 0;
}
