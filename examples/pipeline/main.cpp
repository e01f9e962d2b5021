// Example: a two-stage pipeline of always-running components.
//
//   words_in --> [packetizer] --> packets --> [checksummer] --> checksums_out
//
// The packetizer groups the input words into packets of four: it forwards each
// word with start-of-packet set on the first word of a packet and end-of-packet
// on the fourth. The checksummer adds up the words of each packet modulo 2^16
// and emits one checksum per packet, as a one-beat packet.
//
// Each stage runs on a worker thread of its own, and the two show the two ways
// a component can wait for input. The packetizer polls with tryRead: a call
// that finds nothing returns at once and its worker calls again. The
// checksummer blocks in read(..., true): its worker sleeps until the
// packetizer writes. The stages share nothing but the `packets` stream, and
// each keeps its per-packet state in function statics that only its own
// worker thread touches.
#include <cstdint>
#include <initializer_list>
#include <iostream>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"

namespace {

constexpr int words_per_packet = 4;

qrn::stream_in<std::uint16_t> words_in;
// Written by the packetizer, read by the checksummer: a channel between two
// components.
qrn::stream<std::uint16_t> packets;
qrn::stream_out<std::uint16_t> checksums_out;

void packetizer() {
  static int position = 0;  // of the next word within its packet

  bool success = false;
  const std::uint16_t word = words_in.tryRead(success);
  if (!success) {
    return;
  }
  const bool sop = position == 0;
  const bool eop = position == words_per_packet - 1;
  packets.tryWrite(word, sop, eop);
  position = eop ? 0 : position + 1;
}

void checksummer() {
  static std::uint16_t sum = 0;  // of the current packet's words so far, modulo 2^16

  bool sop = false;
  bool eop = false;
  const std::uint16_t word = packets.read(sop, eop, true);  // sleeps until a word arrives
  sum = static_cast<std::uint16_t>((sop ? 0 : sum) + word);
  if (eop) {
    checksums_out.tryWrite(sum, true, true);
  }
}

// Component entry: launches both stages on the first call; later calls do
// nothing.
void pipeline() {
  qrn::launch_always_run<packetizer>();
  qrn::launch_always_run<checksummer>();
}

// Writes `words`, lets the pipeline settle, then prints every checksum it
// produced.
void run_round(int round, std::initializer_list<std::uint16_t> words) {
  for (const std::uint16_t word : words) {
    words_in.write(word);
  }
  std::cout << "round " << round << ": wrote " << words.size() << " words\n";

  // Returns once both stages have gone quiet: the packetizer has polled twice
  // in a row without finding a word, and the checksummer sleeps with no word
  // on its way. Every word written so far has then gone as far down the
  // pipeline as it can, so the polls below see exactly the checksums of the
  // packets completed so far: not a prefix that depends on how fast the
  // worker threads happened to run.
  pipeline();
  __qrn_hls_component_run_all(pipeline);

  int checksums = 0;
  for (;;) {
    bool success = false;
    bool sop = false;
    bool eop = false;
    const std::uint16_t checksum = checksums_out.tryRead(success, sop, eop);
    if (!success) {
      break;
    }
    std::cout << "checksum " << checksum << " (sop " << sop << ", eop " << eop << ")\n";
    ++checksums;
  }
  std::cout << "round " << round << ": " << checksums << " checksums\n";
}

}  // namespace

int main() {
  // Two whole packets (the second one's sum wraps around 2^16) and the first
  // half of a third, which stays open in the pipeline until round 2.
  run_round(1, {1000, 2000, 3000, 4000, 65535, 1, 2, 3, 7, 8});
  run_round(2, {11, 12});
  return 0;
}
