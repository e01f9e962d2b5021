// Test bench of packet_sum: feeds packets, lets the component settle with the
// emulation runtime, and prints every sum that arrived. The output does not
// depend on scheduling.
#include <iostream>
#include <vector>

#include "HLS/runtime.h"
#include "packet_sum.h"

namespace {

void write_packet(const std::vector<int>& packet) {
  for (std::size_t i = 0; i < packet.size(); ++i) {
    samples.write(packet[i], i == 0, i + 1 == packet.size());
  }
}

void print_sums() {
  for (;;) {
    bool success = false;
    bool sop = false;
    bool eop = false;
    int length = 0;
    const long long sum = packet_sums.tryRead(success, sop, eop, length);
    if (!success) {
      break;
    }
    std::cout << "sum " << sum << " of " << length << " samples\n";
  }
  std::cout << "settled" << std::endl;
}

}  // namespace

int main() {
  write_packet({1, 2, 3});
  write_packet({-5});
  write_packet({10, 20, 30, 40});
  for (int i = 0; i < 3; ++i) {
    packet_sum_entry();  // the first call launches the component
  }
  __qrn_hls_component_run_all(packet_sum_entry);
  print_sums();

  write_packet({1000000000, 2000000000});
  samples.write(7, true, false);  // an open packet yields no sum yet
  __qrn_hls_component_run_all(packet_sum_entry);
  print_sums();
  return 0;
}
