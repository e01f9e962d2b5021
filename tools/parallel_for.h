// Runs independent pieces of work on one thread per processor.
#ifndef QRN_TOOLS_PARALLEL_FOR_H
#define QRN_TOOLS_PARALLEL_FOR_H

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

#include "program_runs.h"

namespace qrn_tools {

// Calls `work(i)` for every i < count, each once, on up to processors()
// threads (this one included); returns when all have returned. `work` must
// be safe to call from several threads at once.
template <typename Work>
void parallel_for(std::size_t count, Work work) {
  std::atomic<std::size_t> next{0};
  const auto drain = [&] {
    for (std::size_t i = next++; i < count; i = next++) {
      work(i);
    }
  };
  std::vector<std::thread> threads(std::min(count, processors()) - (count != 0 ? 1 : 0));
  for (std::thread& thread : threads) {
    thread = std::thread(drain);
  }
  drain();
  for (std::thread& thread : threads) {
    thread.join();
  }
}

}  // namespace qrn_tools

#endif  // QRN_TOOLS_PARALLEL_FOR_H
