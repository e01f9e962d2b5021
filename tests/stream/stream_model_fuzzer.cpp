// libFuzzer target: the input bytes choose the stream class, the operations
// and their arguments (see stream_model.h); any disagreement with the
// reference queue aborts with the step and operation. Built with
// -DQRN_BUILD_FUZZERS=ON under clang.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "stream_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* name = nullptr;
  const qrn_test::model_outcome out = qrn_test::run_stream_model(data, size, &name);
  if (!out.failure.empty()) {
    std::fprintf(stderr, "%s, step %zu: %s\n", name, out.step, out.failure.c_str());
    std::abort();
  }
  return 0;
}
