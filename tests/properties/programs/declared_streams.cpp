// A test bench with declared interface properties, run by properties_test.cpp;
// prints what it checks and the run table on stdout.
#include <iostream>

#include "HLS/diagnostics.h"
#include "HLS/hls.h"

namespace {

using packets = qrn::stream_out<int, qrn::usesEmpty<true>, qrn::buffer<8>, qrn::usesPackets<true>>;
using packets_props = qrn::interface_properties<packets>;
static_assert(packets_props::declared && packets_props::buffer == 8 && packets_props::usesPackets &&
                  packets_props::usesEmpty && packets_props::readyLatency == 0 &&
                  packets_props::bitsPerSymbol == 0 && !packets_props::firstSymbolInHighOrderBits &&
                  packets_props::usesValid && packets_props::usesReady,
              "declared values, in any order; the others as undeclared");
using symbols =
    qrn::interface_properties<qrn::stream_in<long, qrn::usesReady<false>, qrn::bitsPerSymbol<16>,
                                             qrn::firstSymbolInHighOrderBits<true>,
                                             qrn::readyLatency<3>, qrn::usesValid<false>>>;
static_assert(symbols::bitsPerSymbol == 16 && symbols::readyLatency == 3 &&
                  symbols::firstSymbolInHighOrderBits && !symbols::usesValid &&
                  !symbols::usesReady && symbols::buffer == 0 && !symbols::usesPackets,
              "every property read back");
using plain = qrn::interface_properties<qrn::stream_in<int>>;
static_assert(!plain::declared && plain::buffer == 0 && !plain::usesPackets && plain::usesValid &&
                  plain::usesReady,
              "no properties: the values of today's interface");

// Declared properties but no packets: its sop/eop are warned about.
qrn::stream_out<int, qrn::buffer<2>> flags_dropped;

constexpr int front_end_line = __LINE__ + 1;
struct front_end {
  qrn::stream_in<int> samples;
};

void doubler(qrn::stream_in<int>& in, qrn::stream_out<int>& out) { out.write(2 * in.read()); }

// Writes the three sideband shapes to `s` and prints what reads back.
template <typename Stream>
void sideband_round_trip(Stream& s) {
  bool sop = false;
  bool eop = false;
  int empty = 0;
  s.write(1, true, false);
  s.write(2, false, true, 3);
  const int first = s.read(sop, eop, empty);
  std::cout << first << ' ' << sop << eop << empty;
  const int second = s.read(sop, eop, empty);
  std::cout << ' ' << second << ' ' << sop << eop << empty << '\n';
}

}  // namespace

int main() {
  constexpr int local_line = __LINE__ + 1;
  qrn::stream_in<int, qrn::buffer<4>> local_in;
  qrn::stream_out<int, qrn::readyLatency<1>> local_out;
  front_end fe;
  qrn::stream_out<int, qrn::usesPackets<true>> counts_dropped{"counts_dropped"};
  packets carried{"carried"};
  qrn::stream_out<int> undeclared{"undeclared"};

  local_in.write(21);
  doubler(local_in, local_out);
  std::cout << "doubled " << local_out.read() << '\n';
  fe.samples.write(5);
  (void)fe.samples.read();
  sideband_round_trip(flags_dropped);
  sideband_round_trip(counts_dropped);
  sideband_round_trip(carried);
  sideband_round_trip(undeclared);
  std::cout << "lines " << local_line << ' ' << front_end_line << '\n';
  qrn::print_run_table(std::cout);
  return 0;
}
