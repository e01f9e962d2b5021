// Example: a co-simulation harness that drives an always-running component
// through untyped stream handles.
//
// A co-simulation lives outside the typed C++ program: it holds each stream of
// the design as a `qrn::internal::stream_abstract_base*` and moves beats
// through raw memory with the by-pointer operations. This harness feeds
// packets to the packet summer (packet_summer.cpp) in two rounds; after each
// round it lets the component settle and drains the sums.
//
// Rules a harness has to keep:
// - `data` points at get_data_size() bytes, `sop`/`eop` at one bool each and
//   `empty` at one int.
// - By-pointer reads and peeks never wait: on an empty stream they end the
//   process with "Error: Cannot do a blocking read ...". Check first.
// - get_size() and _internal_cosim_empty() take no lock. Call them only while
//   nobody changes the stream: here, after __qrn_hls_component_run_all, when
//   the component has gone quiet and the harness is the stream's only other
//   user.
#include <cstdint>
#include <iostream>
#include <vector>

#include "HLS/runtime.h"
#include "packet_summer.h"

namespace {

using qrn::internal::stream_abstract_base;

// One beat of a packet stream: the data word and its sideband.
struct beat {
  std::int32_t data;
  bool sop;
  bool eop;
  int empty;
};

// The beats of one packet, start- and end-of-packet set on the first and last
// beat; `last_empty` symbols of the last beat are unused.
std::vector<beat> packet(const std::vector<std::int32_t>& words, int last_empty) {
  std::vector<beat> beats;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const bool last = i + 1 == words.size();
    beats.push_back({words[i], i == 0, last, last ? last_empty : 0});
  }
  return beats;
}

// Takes `beats` by value: the by-pointer write wants non-const pointers.
void feed(stream_abstract_base& port, std::vector<beat> beats) {
  for (beat& b : beats) {
    port.write_by_ptr_pkt_e(&b.data, &b.sop, &b.eop, &b.empty);
  }
}

// Takes every result beat out of `port` and prints it. A result must be a
// complete one-beat packet; a beat that is not is reported and left in place.
// Returns the number of beats taken, or -1 after a protocol error.
int drain(stream_abstract_base& port) {
  int taken = 0;
  while (!port._internal_cosim_empty()) {
    beat head{};
    port.front_by_ptr_pkt_e(&head.data, &head.sop, &head.eop, &head.empty);
    if (!head.sop || !head.eop) {
      std::cout << "protocol error: result beat " << head.data << " is not a whole packet\n";
      return -1;
    }
    beat result{};
    port.read_by_ptr_pkt_e(&result.data, &result.sop, &result.eop, &result.empty);
    std::cout << "sum " << result.data << " (sop " << result.sop << ", eop " << result.eop
              << ", empty " << result.empty << ")\n";
    ++taken;
  }
  return taken;
}

// Feeds `beats`, lets the component settle and drains its results.
bool run_round(int round, const std::vector<beat>& beats, stream_abstract_base& in,
               stream_abstract_base& out) {
  feed(in, beats);
  std::cout << "round " << round << ": fed " << beats.size() << " beats\n";

  // Launches the component on the first round. Then returns once it has gone
  // quiet: every beat fed is consumed and every sum it produced is in `out`.
  packet_summer_entry();
  __qrn_hls_component_run_all(packet_summer_entry);

  const int taken = drain(out);
  if (taken < 0) {
    return false;
  }
  std::cout << "round " << round << ": " << taken << " sums, " << in.get_size()
            << " beats left in beats_in\n";
  return true;
}

std::vector<beat> concat(std::vector<beat> a, const std::vector<beat>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

int main() {
  stream_abstract_base* in = packet_summer_port("beats_in");
  stream_abstract_base* out = packet_summer_port("sums_out");
  if (in == nullptr || out == nullptr) {
    std::cout << "design lacks beats_in or sums_out\n";
    return 1;
  }
  // The harness moves 32-bit words; make sure the design agrees.
  if (in->get_data_size() != sizeof(std::int32_t) || out->get_data_size() != sizeof(std::int32_t)) {
    std::cout << "unexpected element size\n";
    return 1;
  }
  std::cout << "beats_in and sums_out carry " << in->get_data_size() << "-byte words\n";

  // Round 1: two whole packets and the first half of a third, which stays
  // open in the component until round 2 brings its end.
  const std::vector<beat> long_packet = packet({100, 200, 300, 400}, 3);
  const std::vector<beat> round1 =
      concat(concat(packet({1, 2, 3}, 2), packet({10}, 1)),
             std::vector<beat>(long_packet.begin(), long_packet.begin() + 2));
  const std::vector<beat> round2(long_packet.begin() + 2, long_packet.end());

  if (!run_round(1, round1, *in, *out) || !run_round(2, round2, *in, *out)) {
    return 1;
  }
  return 0;
}
