// Component: sums each packet of 32-bit beats and emits the sum as a one-beat
// packet (start- and end-of-packet set) that carries the empty-symbol count of
// the packet's last beat.
#include "packet_summer.h"

#include <cstdint>
#include <cstring>

#include "HLS/hls.h"
#include "HLS/task.h"

namespace {

qrn::stream_in<std::int32_t> beats_in;
qrn::stream_out<std::int32_t> sums_out;

// Called back to back by its worker thread; handles at most one beat per call
// and never blocks, so a call that finds no beat simply returns. The running
// sum lives across calls, as a component's registers would, and only the
// worker thread touches it.
void packet_summer() {
  static std::uint32_t sum = 0;  // unsigned: a long packet wraps instead of overflowing

  bool success = false;
  bool sop = false;
  bool eop = false;
  int empty = 0;
  const std::int32_t beat = beats_in.tryRead(success, sop, eop, empty);
  if (!success) {
    return;
  }
  if (sop) {
    sum = 0;
  }
  sum += static_cast<std::uint32_t>(beat);
  if (eop) {
    sums_out.tryWrite(static_cast<std::int32_t>(sum), true, true, empty);
  }
}

}  // namespace

void packet_summer_entry() { qrn::launch_always_run<packet_summer>(); }

qrn::internal::stream_abstract_base* packet_summer_port(const char* name) {
  if (std::strcmp(name, "beats_in") == 0) {
    return &beats_in;
  }
  if (std::strcmp(name, "sums_out") == 0) {
    return &sums_out;
  }
  return nullptr;
}
