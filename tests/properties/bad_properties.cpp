// Bad property lists for the compile-error tests (see CMakeLists.txt): each
// QRN_CASE must fail to compile with its message.
#include "HLS/hls.h"

#if QRN_CASE == 1
qrn::stream_in<int, qrn::buffer<2>, int> s;
#elif QRN_CASE == 2
qrn::stream_out<int, qrn::usesPackets<true>, qrn::buffer<2>, qrn::usesPackets<false> > s;
#elif QRN_CASE == 3
qrn::stream_in<int, qrn::buffer<-1> > s;
#elif QRN_CASE == 4
qrn::stream_out<int, qrn::readyLatency<-3> > s;
#elif QRN_CASE == 5
qrn::stream_in<int, qrn::usesEmpty<true> > s;
#elif QRN_CASE == 6
qrn::stream_out<int, qrn::bitsPerSymbol<24> > s;
#endif

int main() { return 0; }
