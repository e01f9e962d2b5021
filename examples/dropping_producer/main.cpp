// Example: a producer that drops what its consumer cannot take in time.
//
// `produce` is a task that offers one element per cycle, 1 to 2026, with
// `tryWrite` into a FIFO of depth 2 and drops each element the full FIFO
// refuses, as a free-running source does in hardware; then it writes an end
// marker with a blocking write. `consume` is a task that takes one element
// every 3 cycles (`qrn::timing{3, 1}`), sums them until the marker and writes
// the sum. The bench prints the sum.
//
// An ordinary run has no cycles: the producer runs ahead of nothing, every
// element is kept and the sum is 1 + 2 + ... + 2026 = 2053351 (with
// QRN_DEPTH=declared which elements a full FIFO refuses depends on how the
// threads or fibers happen to run). With QRN_TIME=cycles the FIFO holds two
// elements and the consumer frees a place every 3 cycles, so about a third
// of the elements is kept, as in hardware; the bench then also prints, on
// standard error, the cycle at which the sum came and the untimed sum.
#include <cstdint>
#include <iostream>

#include "HLS/hls.h"
#include "HLS/task.h"

constexpr int elements = 2026;  // 1 to 2026
constexpr int end_marker = -1;

qrn::stream<int, qrn::buffer<2>> offered;
qrn::stream_out<std::int64_t> sum_out;

void produce() {
  for (int i = 1; i <= elements; ++i) {
    offered.tryWrite(i);  // false: the FIFO is full and `i` is lost
  }
  offered.write(end_marker);
}

void consume() {
  std::int64_t sum = 0;
  for (int value = offered.read(); value != end_marker; value = offered.read()) {
    sum += value;
  }
  sum_out.write(sum);
}

int main() {
  qrn::launch_task<produce>(qrn::timing{1, 1});
  qrn::launch_task<consume>(qrn::timing{3, 1});
  const std::int64_t sum = sum_out.read();
  std::cout << "sum " << sum << '\n';
  if (const std::uint64_t at = qrn::cycle()) {  // 0: not a timed run
    std::cerr << "timed run: sum read at cycle " << at
              << "; untimed, every element is kept and the sum is "
              << std::int64_t{elements} * (elements + 1) / 2 << '\n';
  }
  return 0;
}
