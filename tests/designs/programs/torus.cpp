// A 2x2 torus of nodes. Node r*2+c sends its block to its east and south
// neighbours and receives its west and north neighbours' blocks, all with
// non-blocking tryWrite and tryRead in one loop. The links are two-element
// FIFOs, so with declared depths the writes are refused until the neighbour
// reads. Each node reports a checksum that tells which link each block came
// from. Every stream is local to main.
#include <cstdio>

#include "HLS/hls.h"
#include "HLS/task.h"

constexpr int nodes = 4;
constexpr int block_size = 16;

using link_stream = qrn::stream_out<int, qrn::buffer<2>>;

int element(int node, int i) { return node * 100 + i; }

void node(int id, qrn::stream_out<int>& east, qrn::stream_out<int>& south,
          qrn::stream_out<int>& west, qrn::stream_out<int>& north,
          qrn::stream_out<long long>& result) {
  int sent_east = 0, sent_south = 0, from_west = 0, from_north = 0;
  long long checksum = 0;
  while (sent_east < block_size || sent_south < block_size || from_west < block_size ||
         from_north < block_size) {
    if (sent_east < block_size && east.tryWrite(element(id, sent_east))) {
      ++sent_east;
    }
    if (sent_south < block_size && south.tryWrite(element(id, sent_south))) {
      ++sent_south;
    }
    bool ok = false;
    const int w = from_west < block_size ? west.tryRead(ok) : 0;
    if (ok) {
      checksum += 3LL * w * (++from_west);
    }
    ok = false;
    const int n = from_north < block_size ? north.tryRead(ok) : 0;
    if (ok) {
      checksum += 7LL * n * (++from_north);
    }
  }
  result.write(checksum);
}

int main() {
  // east_of[k]: from node k to its east neighbour k ^ 1 (also its west one);
  // south_of[k]: from node k to its south neighbour k ^ 2 (also its north one).
  link_stream east_of[nodes], south_of[nodes];
  qrn::stream_out<long long> results[nodes];
  for (int k = 0; k < nodes; ++k) {
    qrn::launch_task<node>(k, east_of[k], south_of[k], east_of[k ^ 1], south_of[k ^ 2], results[k]);
  }
  for (int k = 0; k < nodes; ++k) {
    std::printf("node %d: %lld\n", k, results[k].read());
  }
  return 0;
}
