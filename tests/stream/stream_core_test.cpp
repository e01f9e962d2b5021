// Plain operations of the stream channels (read, write, tryRead, tryWrite,
// get_size) on stream<int>, stream_in<int> and stream_out<int>.
#include <gtest/gtest.h>

#include "stream_test_support.h"

namespace qrn_test {
namespace {

template <typename Stream>
class StreamCore : public ::testing::Test {};
TYPED_TEST_SUITE(StreamCore, stream_types, stream_type_names);

template <typename Stream>
class StreamCoreDeathTest : public ::testing::Test {};
TYPED_TEST_SUITE(StreamCoreDeathTest, stream_types, stream_type_names);

TYPED_TEST(StreamCore, StartsEmpty) {
  TypeParam stream;
  EXPECT_TRUE(stream._internal_cosim_empty());
  EXPECT_EQ(stream.get_size(), 0u);
  EXPECT_EQ(stream.get_data_size(), sizeof(int));
}

TYPED_TEST(StreamCore, ElementsLeaveInWriteOrder) {
  TypeParam stream;
  stream.write(10);
  stream.write(20);
  stream.write(40);
  EXPECT_EQ(stream.get_size(), 3u);
  EXPECT_FALSE(stream._internal_cosim_empty());

  for (int expected : {10, 20, 40}) {
    bool success = false;
    EXPECT_EQ(stream.tryRead(success), expected);
    EXPECT_TRUE(success);
  }
  EXPECT_EQ(stream.get_size(), 0u);
  EXPECT_TRUE(stream._internal_cosim_empty());
}

TYPED_TEST(StreamCore, TryReadOfEmptyStreamFailsAndChangesNothing) {
  TypeParam stream;
  bool success = true;
  EXPECT_EQ(stream.tryRead(success), 0);
  EXPECT_FALSE(success);
  EXPECT_EQ(stream.get_size(), 0u);

  stream.write(5);
  EXPECT_EQ(stream.tryRead(success), 5);
  EXPECT_TRUE(success);

  // A drained stream returns a fresh 0, not the last element.
  EXPECT_EQ(stream.tryRead(success), 0);
  EXPECT_FALSE(success);
  stream.write(6);
  EXPECT_EQ(stream.tryRead(success), 6);
  EXPECT_TRUE(success);
}

TYPED_TEST(StreamCore, TryWriteAlwaysSucceedsAndKeepsEveryElement) {
  TypeParam stream;
  const int count = 10000;
  for (int i = 0; i < count; ++i) {
    ASSERT_TRUE(stream.tryWrite(i));
  }
  EXPECT_EQ(stream.get_size(), static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    ASSERT_EQ(stream.read(false), i);
  }
  EXPECT_EQ(stream.get_size(), 0u);
}

TYPED_TEST(StreamCore, ReadOfNonEmptyStreamReturnsOldestWithoutWaiting) {
  TypeParam stream;
  stream.write(3);
  stream.write(4);
  EXPECT_EQ(stream.read(false), 3);
  EXPECT_EQ(stream.get_size(), 1u);
  EXPECT_EQ(stream.read(true), 4);
  EXPECT_EQ(stream.get_size(), 0u);
}

TYPED_TEST(StreamCore, PlainWriteCarriesEmptySideband) {
  TypeParam stream;
  stream.write(12);
  bool sop = true;
  bool eop = true;
  int empty = -7;
  EXPECT_EQ(stream.read(sop, eop, empty, false), 12);
  EXPECT_FALSE(sop);
  EXPECT_FALSE(eop);
  EXPECT_EQ(empty, 0);
}

TYPED_TEST(StreamCore, BlockingReadSleepsUntilAnotherThreadWrites) {
  TypeParam stream;
  int got = 0;
  write_while_readers_sleep([&] { stream.write(77); }, [&] { got = stream.read(true); });
  EXPECT_EQ(got, 77);
  EXPECT_EQ(stream.get_size(), 0u);
}

TYPED_TEST(StreamCore, EachWriteWakesOneOfSeveralSleepingReaders) {
  TypeParam stream;
  int first = 0;
  int second = 0;
  write_while_readers_sleep(
      [&] {
        stream.write(1);
        stream.tryWrite(2);
      },
      [&] { first = stream.read(true); }, [&] { second = stream.read(true); });
  EXPECT_EQ(first + second, 3);
  EXPECT_NE(first, second);
  EXPECT_EQ(stream.get_size(), 0u);
}

TYPED_TEST(StreamCoreDeathTest, ReadWithoutWaitOfEmptyStreamIsFatal) {
  TypeParam stream;
  QRN_EXPECT_FATAL(stream.read(false), empty_read_error);
}

TYPED_TEST(StreamCoreDeathTest, ReadWithoutWaitOfDrainedStreamIsFatal) {
  TypeParam stream;
  stream.write(1);
  EXPECT_EQ(stream.read(false), 1);
  QRN_EXPECT_FATAL(stream.read(false), empty_read_error);
}

}  // namespace
}  // namespace qrn_test
