// An 8x8 Omega network: three stages of four 2x2 switches, a perfect shuffle
// in front of each stage. The bench launches `build_network`, a task that
// launches one task per stage, each of which launches its four switches. A
// packet carries its destination, and each stage routes it by one bit of it,
// most significant first. The bench checks at each output that every packet
// arrived there, and in order per source.
#include <cstdio>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"

constexpr int ports = 8;
constexpr int stages = 3;
constexpr int per_source = 12;

// stage_in[s][p]: input p of stage s.
qrn::stream_out<int, qrn::buffer<4>> stage_in[stages][ports];
qrn::stream_out<int> outputs[ports];

int packet(int dest, int src, int seq) { return dest * 10000 + src * 100 + seq; }
int dest_of(int p) { return p / 10000; }

int shuffled(int port) { return ((port << 1) | (port >> 2)) % ports; }

qrn::stream_out<int>& after(int stage, int port) {
  return stage + 1 < stages ? stage_in[stage + 1][shuffled(port)] : outputs[port];
}

// Moves at most one packet from each input to the output its bit selects.
void switch2x2(qrn::stream_out<int>& in0, qrn::stream_out<int>& in1, qrn::stream_out<int>& out0,
               qrn::stream_out<int>& out1, int bit) {
  qrn::stream_out<int>* inputs[] = {&in0, &in1};
  for (qrn::stream_out<int>* in : inputs) {
    bool ok = false;
    const int p = in->tryRead(ok);
    if (ok) {
      ((dest_of(p) >> bit) & 1 ? out1 : out0).write(p);
    }
  }
}

void build_stage(int stage) {
  for (int k = 0; k < ports / 2; ++k) {
    qrn::launch_always_run<switch2x2>(stage_in[stage][2 * k], stage_in[stage][2 * k + 1],
                                      after(stage, 2 * k), after(stage, 2 * k + 1),
                                      stages - 1 - stage);
  }
}

void build_network() {
  for (int stage = 0; stage < stages; ++stage) {
    qrn::launch_task<build_stage>(stage);
  }
}

void entry() {}

int main() {
  qrn::launch_task<build_network>();
  for (int seq = 0; seq < per_source; ++seq) {
    for (int src = 0; src < ports; ++src) {
      stage_in[0][shuffled(src)].write(packet((src * 3 + seq * 5) % ports, src, seq));
    }
  }
  __qrn_hls_component_run_all(entry);
  for (int port = 0; port < ports; ++port) {
    int count = 0, sum = 0, last_seq[ports];
    bool in_order = true;
    for (int& seq : last_seq) {
      seq = -1;
    }
    for (bool ok = true; ok;) {
      const int p = outputs[port].tryRead(ok);
      if (ok) {
        const int src = p / 100 % 100, seq = p % 100;
        in_order = in_order && dest_of(p) == port && seq > last_seq[src];
        last_seq[src] = seq;
        ++count;
        sum += p % 10000;
      }
    }
    std::printf("output %d: %d packets, sum %d, %s\n", port, count, sum,
                in_order ? "in order" : "misrouted or out of order");
  }
  return 0;
}
