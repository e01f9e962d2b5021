// Example: two components whose FIFO depths decide whether they deadlock.
//
// For each frame, `splitter` writes the frame's elements to `wide` and then
// its length to `narrow`; `joiner` reads `narrow` first and then the elements
// of `wide`. Both streams declare a depth of two elements (`qrn::buffer<2>`),
// as the hardware FIFOs between the two would have. The bench sends a frame
// of two elements, then frames of four.
//
// - By default (QRN_DEPTH unset) streams are unbounded: the frames go through,
//   and the run ends with a warning that `wide` held four elements, more than
//   its declared depth.
// - With QRN_DEPTH=declared the first frame fits; in the second the splitter
//   waits on the full `wide` while the joiner waits on the empty `narrow`:
//   the hang report names the deadlock on depth and its cycle, and with
//   QRN_ON_HANG=exit the run ends with status 1.
// - With QRN_DEPTH=grow the run grows `wide` until the frames go through and
//   ends by telling the depth it needed: four.
#include <iostream>

#include "HLS/hls.h"
#include "HLS/task.h"

namespace {

qrn::stream_in<int> frames;
qrn::stream<int, qrn::buffer<2>> wide;
qrn::stream<int, qrn::buffer<2>> narrow;
qrn::stream_out<int> sums;

// Elements 1, 2, ... of a frame of `length` elements.
void splitter() {
  const int length = frames.read();
  for (int i = 1; i <= length; ++i) {
    wide.write(i);
  }
  narrow.write(length);
}

void joiner() {
  const int length = narrow.read();
  int sum = 0;
  for (int i = 0; i < length; ++i) {
    sum += wide.read();
  }
  sums.write(sum);
}

}  // namespace

int main() {
  qrn::launch_always_run<splitter>();
  qrn::launch_always_run<joiner>();
  for (const int length : {2, 4, 4}) {
    frames.write(length);
    std::cout << "frame of " << length << ": sum " << sums.read() << '\n';  // one at a time
  }
  return 0;
}
