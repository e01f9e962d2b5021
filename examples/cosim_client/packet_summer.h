// The packet-summing design as a co-simulation sees it: an entry that starts
// the component and its streams by name, untyped.
#ifndef QRN_EXAMPLES_COSIM_CLIENT_PACKET_SUMMER_H
#define QRN_EXAMPLES_COSIM_CLIENT_PACKET_SUMMER_H

#include "HLS/hls_internal.h"

// Component entry: starts `packet_summer` as an always-running component on
// the first call; later calls do nothing. Thread-safe.
void packet_summer_entry();

// The design's stream called `name` ("beats_in" or "sums_out"), or null.
// Both carry 32-bit integers with packet sideband.
qrn::internal::stream_abstract_base* packet_summer_port(const char* name);

#endif  // QRN_EXAMPLES_COSIM_CLIENT_PACKET_SUMMER_H
