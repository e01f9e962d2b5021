// A component that sums each packet of samples: it reads samples with their
// sideband, blocking while none is there, and writes one sum per packet (at
// its end-of-packet sample) together with the packet's length as the empty
// count.
#ifndef QRN_CONSUMER_PACKET_SUM_H
#define QRN_CONSUMER_PACKET_SUM_H

#include "HLS/hls.h"

extern qrn::stream_in<int> samples;
extern qrn::stream_out<long long> packet_sums;

// The component: handles one sample per call.
void packet_sum();

// The component entry: starts packet_sum as an always-running component.
void packet_sum_entry();

#endif  // QRN_CONSUMER_PACKET_SUM_H
