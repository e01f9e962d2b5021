// The sample's component for test programs: `polling_doubler` polls
// `in_stream` without blocking and writes each value doubled to `out_stream`.
// Defines the two streams: include it in one translation unit per program.
#ifndef QRN_TESTS_RUNTIME_PROGRAMS_POLLING_DOUBLER_COMPONENT_H
#define QRN_TESTS_RUNTIME_PROGRAMS_POLLING_DOUBLER_COMPONENT_H

#include "HLS/hls.h"
#include "HLS/task.h"

qrn::stream_in<int> in_stream;
qrn::stream_out<int> out_stream;

void polling_doubler() {
  bool success = false;
  const int x = in_stream.tryRead(success);
  if (success) {
    success = out_stream.tryWrite(2 * x);
  }
}

void launch_polling_doubler() { qrn::launch_always_run<polling_doubler>(); }

#endif  // QRN_TESTS_RUNTIME_PROGRAMS_POLLING_DOUBLER_COMPONENT_H
