#include "packet_sum.h"

#include "HLS/task.h"

qrn::stream_in<int> samples;
qrn::stream_out<long long> packet_sums;

namespace {
long long running_sum = 0;  // used by the component's worker thread only
int running_length = 0;     // used by the component's worker thread only
}  // namespace

void packet_sum() {
  bool sop = false;
  bool eop = false;
  const int sample = samples.read(sop, eop, true);
  if (sop) {
    running_sum = 0;
    running_length = 0;
  }
  running_sum += sample;
  ++running_length;
  if (eop) {
    packet_sums.write(running_sum, true, true, running_length);
  }
}

void packet_sum_entry() { qrn::launch_always_run<packet_sum>(); }
