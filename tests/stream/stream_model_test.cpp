// Long random operation sequences on stream<int>, stream_in<int> and
// stream_out<int>, each step checked against a reference deque (see
// stream_model.h). A fixed set of seeds runs by default;
// QRN_STREAM_MODEL_SEEDS="s1,s2,..." runs those seeds instead, and
// QRN_STREAM_MODEL_BYTES sets the input length of each run. A failure names
// the seed, the step and the operation.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "stream_model.h"
#include "stream_test_support.h"

namespace qrn_test {
namespace {

std::vector<std::uint64_t> model_seeds() {
  std::vector<std::uint64_t> seeds;
  if (const char* listed = std::getenv("QRN_STREAM_MODEL_SEEDS")) {
    std::istringstream list(listed);
    std::string seed;
    while (std::getline(list, seed, ',')) {
      seeds.push_back(std::stoull(seed, nullptr, 0));
    }
    return seeds;
  }
  for (std::uint64_t seed = 1; seed <= 12; ++seed) {
    seeds.push_back(seed);
  }
  seeds.push_back(0xdeadbeefULL);
  seeds.push_back(0x5eed0f5eedULL);
  return seeds;
}

std::size_t model_input_bytes() {
  const char* bytes = std::getenv("QRN_STREAM_MODEL_BYTES");
  return bytes != nullptr ? std::stoul(bytes) : std::size_t{128} * 1024;
}

template <typename Stream>
class StreamModel : public ::testing::Test {};
TYPED_TEST_SUITE(StreamModel, stream_types, stream_type_names);

TYPED_TEST(StreamModel, RandomOperationSequencesMatchTheReferenceQueue) {
  std::size_t longest = 0;
  for (std::uint64_t seed : model_seeds()) {
    const std::vector<std::uint8_t> bytes = seeded_bytes(seed, model_input_bytes());
    byte_choices in(bytes.data(), bytes.size());
    TypeParam stream;
    const model_outcome out = stream_model<TypeParam>(stream, declared_default_depth()).run(in);
    EXPECT_EQ(out.failure, "") << "seed " << seed << ", step " << out.step;
    if (out.max_size > longest) {
      longest = out.max_size;
    }
  }
  // The default runs' bursts must make the storage grow several times over,
  // or fill a bounded stream.
  if (std::getenv("QRN_STREAM_MODEL_SEEDS") == nullptr &&
      std::getenv("QRN_STREAM_MODEL_BYTES") == nullptr) {
    EXPECT_GT(longest, std::min<std::size_t>(1024, declared_default_depth() - 1));
  }
}

// The fuzzer's committed corpus (QRN_STREAM_FUZZ_CORPUS) replays in every
// build, so an input the fuzzer found is kept as a test by adding it there.
TEST(StreamModelCorpus, EveryCommittedInputMatchesTheReferenceQueue) {
  const std::string dir = QRN_STREAM_FUZZ_CORPUS;
  DIR* listing = ::opendir(dir.c_str());
  ASSERT_NE(listing, nullptr) << dir;
  int inputs = 0;
  while (const dirent* entry = ::readdir(listing)) {
    if (entry->d_name[0] == '.') {
      continue;
    }
    std::ifstream file(dir + "/" + entry->d_name, std::ios::binary);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                                          std::istreambuf_iterator<char>());
    const char* name = nullptr;
    const model_outcome out =
        run_stream_model(bytes.data(), bytes.size(), &name, declared_default_depth());
    EXPECT_EQ(out.failure, "") << entry->d_name << " on " << name << ", step " << out.step;
    ++inputs;
  }
  ::closedir(listing);
  EXPECT_GE(inputs, 3);
}

}  // namespace
}  // namespace qrn_test
