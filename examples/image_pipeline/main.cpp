// Example: a 64x64 image filter that splits its work between two workers and
// merges their results back in order.
//
//   source -> line_buffer -> split -+-> to_a -> worker_a -> from_a -+-> merge -> sink
//                                   +-> to_b -> worker_b -> from_b -+
//                                   +-> lap (which worker) ---------+
//
// `line_buffer` keeps the two rows above the current pixel in `line1` and
// `line2`, streams it writes and reads back itself (64 deep: one row each),
// and sends each pixel's vertical 3-tap sum on. `split` deals the left half
// of each row to `worker_a` and the right half to `worker_b`, and tells
// `merge`, through `lap` (16 deep, for the workers' latency), whose result
// comes next; `merge` takes the results in that order and `sink` packs them for
// the bench, which prints a checksum (the same in every mode and timing).
//
//   image_pipeline [ii_a [ii_b]]
// launches the workers with those initiation intervals (default 1; latency
// 8). The other links are declared 2 deep: at the default timing the design
// takes one pixel per cycle, but with a slow worker the split waits on it
// and the other worker idles half of each row, unless `lap` and the slow
// worker's input hold a half row between them. With QRN_TIME=cycles,
// `qrn-depths` sizes those streams jointly, and the run report names what
// paces the design.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "HLS/hls.h"
#include "HLS/task.h"

namespace {

constexpr int width = 64;
constexpr int height = 64;

using link = qrn::stream<int, qrn::buffer<2>>;
using row = qrn::stream<int, qrn::buffer<width>>;

qrn::stream_in<int> pixels;
link raw("raw"), windows("windows"), to_a("to_a"), to_b("to_b");
link from_a("from_a"), from_b("from_b"), merged("merged");
row line1("line1"), line2("line2");
qrn::stream<int, qrn::buffer<16>> lap("lap");
qrn::stream_out<std::uint32_t> results;

void source() { raw.write(pixels.read()); }

// One pixel per call, in raster order; the rows above it come back from the
// line streams, and the current one goes in for the rows below.
void line_buffer() {
  static int y = 0;
  static int x = 0;
  const int pixel = raw.read();
  const int above = y >= 1 ? line1.read() : 0;
  const int two_above = y >= 2 ? line2.read() : 0;
  if (y < height - 1) {
    line1.write(pixel);
  }
  if (y >= 1 && y < height - 1) {
    line2.write(above);
  }
  windows.write(pixel + 2 * above + two_above);
  if (++x == width) {
    x = 0;
    y = (y + 1) % height;
  }
}

void split() {
  static int x = 0;
  const int window = windows.read();
  const bool to_worker_a = x < width / 2;
  lap.write(to_worker_a ? 0 : 1);
  (to_worker_a ? to_a : to_b).write(window);
  x = (x + 1) % width;
}

int filter(int window) { return (window * 5 + 3) / 4; }

void worker_a() { from_a.write(filter(to_a.read())); }
void worker_b() { from_b.write(filter(to_b.read())); }

void merge() { merged.write((lap.read() == 0 ? from_a : from_b).read()); }

void sink() { results.write(static_cast<std::uint32_t>(merged.read()) & 0xffffU); }

unsigned int interval(int argc, char** argv, int at) {
  const int value = argc > at ? std::atoi(argv[at]) : 1;
  return value > 0 ? static_cast<unsigned int>(value) : 1U;
}

}  // namespace

int main(int argc, char** argv) {
  qrn::launch_always_run<source>();
  qrn::launch_always_run<line_buffer>();
  qrn::launch_always_run<split>();
  qrn::launch_always_run<worker_a>(qrn::named("worker_a"), qrn::timing{interval(argc, argv, 1), 8});
  qrn::launch_always_run<worker_b>(qrn::named("worker_b"), qrn::timing{interval(argc, argv, 2), 8});
  qrn::launch_always_run<merge>();
  qrn::launch_always_run<sink>();
  for (int i = 0; i < width * height; ++i) {
    pixels.write((i * 37 + i / width * 11) % 256);
  }
  std::uint32_t checksum = 0;
  for (int i = 0; i < width * height; ++i) {
    checksum = checksum * 31U + results.read();
  }
  std::printf("checksum %08x\n", static_cast<unsigned int>(checksum));
  return 0;
}
