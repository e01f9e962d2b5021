// Example: a test bench that hangs, and how the diagnostics explain it.
//
//   gains_in ----+
//                v
//   samples_in --> [scaler] --> scaled --> [averager] --> averages_out
//
// The scaler takes its gain from gains_in once, then scales every sample it
// polls from samples_in. The averager blocks until it has two scaled samples
// and emits their mean. The bench sets the gain and then, by mistake, writes
// its samples to gains_in as well: nothing ever reaches samples_in, so the
// bench's blocking read of averages_out waits forever.
//
// Run it with QRN_ON_HANG=exit (and, to see it sooner, QRN_HANG_AFTER=0.5):
// the hang report names the bench and the averager asleep, the scaler
// polling an empty samples_in, and the four samples left in gains_in; the
// process then ends with status 1 instead of waiting forever.
#include <iostream>

#include "HLS/hls.h"
#include "HLS/runtime.h"

namespace {

qrn::stream_in<int> gains_in;
qrn::stream_in<int> samples_in;
qrn::stream<int> scaled;
qrn::stream_out<int> averages_out;

void scaler() {
  static int gain = 0;
  bool success = false;
  if (gain == 0) {
    const int new_gain = gains_in.tryRead(success);
    if (!success) {
      return;
    }
    gain = new_gain;
  }
  const int sample = samples_in.tryRead(success);
  if (success) {
    scaled.write(gain * sample);
  }
}

void averager() {
  const int first = scaled.read(true);
  const int second = scaled.read(true);
  averages_out.write((first + second) / 2);
}

void start_components() {
  qrn::launch_always_run<scaler>();
  qrn::launch_always_run<averager>();
}

}  // namespace

int main() {
  start_components();
  gains_in.write(3);
  for (const int sample : {10, 20, 30, 40}) {
    gains_in.write(sample);  // the mistake: should be samples_in
  }
  std::cout << "wrote the gain and 4 samples" << std::endl;
  __qrn_hls_component_run_all(start_components);
  for (int i = 0; i < 2; ++i) {
    const int average = averages_out.read(true);
    std::cout << "average " << average << std::endl;
  }
  return 0;
}
