// The work that qrn_vs_systemc runs on both sides, and how its children are
// called. Each child prints the nanoseconds from the first element written to
// the last one checked on standard output, and exits 1 after a wrong or
// missing element (printing which).
//
//   chain:    K always-running stages in a row, each adding 1; the test bench
//             writes N ints into the first stream and reads N back from the
//             last, checking each. qrn runs the stages polling (tryRead) or
//             blocking (read(true)); SystemC runs them as SC_THREADs joined by
//             sc_fifo<int> channels of depth systemc_fifo_depth.
//   doubling: the sample's shape at scale. qrn: the test bench writes N ints,
//             launches the polling doubler, calls run-all and drains the N
//             results with tryRead. SystemC: a source, a doubler and a sink,
//             SC_THREADs joined by sc_fifo<int> channels as above.
#ifndef QRN_BENCH_VS_SYSTEMC_CHAIN_SHAPES_H
#define QRN_BENCH_VS_SYSTEMC_CHAIN_SHAPES_H

namespace qrn_vs_systemc {

// Most stages in a chain.
constexpr int most_stages = 64;

// sc_fifo's default depth.
constexpr int systemc_fifo_depth = 16;

// The value the test bench writes as element `i`, and what a chain of
// `stages` or the doubler makes of it.
inline int element(long i) { return static_cast<int>(i % 1000003); }
inline int after_chain(long i, int stages) { return element(i) + stages; }
inline int doubled(long i) { return static_cast<int>(static_cast<unsigned int>(element(i)) << 1); }

}  // namespace qrn_vs_systemc

#endif  // QRN_BENCH_VS_SYSTEMC_CHAIN_SHAPES_H
