// A free-running region called repeatedly. `filter_block` launches three
// copy stages, each a task for one block, over streams local to the call,
// feeds them one block and waits for the result; the bench calls it for 16
// blocks in turn, so each call's streams are destroyed after their tasks ended.
#include <cstdio>

#include "HLS/hls.h"
#include "HLS/task.h"

constexpr int blocks = 16;
constexpr int block_size = 24;

// Copies `count` elements, adding `offset` to each.
void copy(qrn::stream<int>& in, qrn::stream<int>& out, int count, int offset) {
  for (int i = 0; i < count; ++i) {
    out.write(in.read() + offset);
  }
}

long long filter_block(const int* block, int count) {
  qrn::stream<int> in, first, second, out;
  qrn::launch_task<copy>(in, first, count, 1);
  qrn::launch_task<copy>(first, second, count, 10);
  qrn::launch_task<copy>(second, out, count, 100);
  for (int i = 0; i < count; ++i) {
    in.write(block[i]);
  }
  long long weighted = 0;
  for (int i = 0; i < count; ++i) {
    weighted += static_cast<long long>(i + 1) * out.read();
  }
  return weighted;
}

int main() {
  int block[block_size];
  long long total = 0;
  std::printf("blocks:");
  for (int b = 0; b < blocks; ++b) {
    for (int i = 0; i < block_size; ++i) {
      block[i] = (b * 31 + i * 7) % 53;
    }
    const long long weighted = filter_block(block, block_size);
    std::printf(" %lld", weighted);
    total += weighted;
  }
  std::printf("\ntotal: %lld\n", total);
  return 0;
}
