// Counts the bytes that the calling thread allocates through operator new
// (the program's operator new and delete are replaced to keep the count).
#ifndef QRN_BENCH_HEAP_COUNTER_H
#define QRN_BENCH_HEAP_COUNTER_H

#include <cstddef>

namespace qrn_bench {

// Bytes requested through operator new by the calling thread so far.
std::size_t heap_bytes_allocated_by_this_thread();

}  // namespace qrn_bench

#endif  // QRN_BENCH_HEAP_COUNTER_H
