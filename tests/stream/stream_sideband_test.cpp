// Packet sideband (start-of-packet, end-of-packet, empty-symbol count) on
// stream<int>, stream_in<int> and stream_out<int>: every element keeps its own
// sideband, plain and sideband operations mix on one stream, and failed reads
// leave the caller's variables alone.
#include <gtest/gtest.h>

#include <climits>

#include "stream_test_support.h"

namespace qrn_test {
namespace {

template <typename Stream>
class StreamSideband : public ::testing::Test {};
TYPED_TEST_SUITE(StreamSideband, stream_types, stream_type_names);

template <typename Stream>
class StreamSidebandDeathTest : public ::testing::Test {};
TYPED_TEST_SUITE(StreamSidebandDeathTest, stream_types, stream_type_names);

TYPED_TEST(StreamSideband, FlagsTravelWithTheirElements) {
  TypeParam stream;
  stream.write(7, true, false);
  stream.write(8, false, true);
  bool sop = false;
  bool eop = true;
  EXPECT_EQ(stream.read(sop, eop, true), 7);
  EXPECT_TRUE(sop);
  EXPECT_FALSE(eop);
  EXPECT_EQ(stream.read(sop, eop, true), 8);
  EXPECT_FALSE(sop);
  EXPECT_TRUE(eop);
  EXPECT_EQ(stream.get_size(), 0u);
}

TYPED_TEST(StreamSideband, CountTravelsWithItsElement) {
  TypeParam stream;
  stream.write(5, true, true, 3);
  stream.write(6);
  bool sop = false;
  bool eop = false;
  int empty = 0;
  EXPECT_EQ(stream.read(sop, eop, empty, true), 5);
  EXPECT_TRUE(sop);
  EXPECT_TRUE(eop);
  EXPECT_EQ(empty, 3);
  EXPECT_EQ(stream.read(sop, eop, empty, false), 6);
  EXPECT_FALSE(sop);
  EXPECT_FALSE(eop);
  EXPECT_EQ(empty, 0);
}

TYPED_TEST(StreamSideband, ReadWithoutCountDiscardsItAndTheNextCountIsItsOwn) {
  TypeParam stream;
  stream.write(5, true, true, 3);
  stream.write(6, false, false, 8);
  bool sop = false;
  bool eop = false;
  int empty = 0;
  EXPECT_EQ(stream.read(sop, eop, true), 5);
  EXPECT_TRUE(sop);
  EXPECT_TRUE(eop);
  EXPECT_EQ(stream.read(sop, eop, empty, true), 6);
  EXPECT_FALSE(sop);
  EXPECT_FALSE(eop);
  EXPECT_EQ(empty, 8);
}

TYPED_TEST(StreamSideband, FlagWriteStoresCountZero) {
  TypeParam stream;
  stream.write(9, true, false);
  bool success = false;
  bool sop = false;
  bool eop = true;
  int empty = 99;
  EXPECT_EQ(stream.tryRead(success, sop, eop, empty), 9);
  EXPECT_TRUE(success);
  EXPECT_TRUE(sop);
  EXPECT_FALSE(eop);
  EXPECT_EQ(empty, 0);
}

TYPED_TEST(StreamSideband, CountsAreStoredUnchangedWhateverTheirValue) {
  TypeParam stream;
  const int counts[] = {-1, 0, 1, INT_MIN, INT_MAX, 1 << 20, -4};
  int index = 0;
  for (int count : counts) {
    if (index % 2 == 0) {
      stream.write(index, false, true, count);
    } else {
      EXPECT_TRUE(stream.tryWrite(index, true, false, count));
    }
    ++index;
  }
  index = 0;
  for (int count : counts) {
    bool success = false;
    bool sop = false;
    bool eop = false;
    int empty = 12345;
    const int got = index % 2 == 0 ? stream.read(sop, eop, empty, false)
                                   : stream.tryRead(success, sop, eop, empty);
    EXPECT_EQ(got, index);
    EXPECT_EQ(empty, count);
    EXPECT_EQ(sop, index % 2 == 1);
    EXPECT_EQ(eop, index % 2 == 0);
    EXPECT_EQ(success, index % 2 == 1);
    ++index;
  }
  EXPECT_EQ(stream.get_size(), 0u);
}

TYPED_TEST(StreamSideband, PlainReadDropsTheSidebandOfItsElementOnly) {
  TypeParam stream;
  stream.write(1, true, true, 5);
  stream.write(2, false, true, 6);
  bool success = false;
  EXPECT_EQ(stream.tryRead(success), 1);
  EXPECT_TRUE(success);
  bool sop = true;
  bool eop = false;
  int empty = 0;
  EXPECT_EQ(stream.read(sop, eop, empty, false), 2);
  EXPECT_FALSE(sop);
  EXPECT_TRUE(eop);
  EXPECT_EQ(empty, 6);
}

TYPED_TEST(StreamSideband, FailedTryReadLeavesEveryOutputAlone) {
  TypeParam stream;
  stream.write(1, false, false, 0);
  EXPECT_EQ(stream.read(false), 1);  // drained: the front entries are gone

  bool success = true;
  bool sop = true;
  bool eop = true;
  EXPECT_EQ(stream.tryRead(success, sop, eop), 0);
  EXPECT_FALSE(success);
  EXPECT_TRUE(sop);
  EXPECT_TRUE(eop);

  success = true;
  int empty = 123;
  EXPECT_EQ(stream.tryRead(success, sop, eop, empty), 0);
  EXPECT_FALSE(success);
  EXPECT_TRUE(sop);
  EXPECT_TRUE(eop);
  EXPECT_EQ(empty, 123);
  EXPECT_EQ(stream.get_size(), 0u);
}

TYPED_TEST(StreamSideband, TryWriteAlwaysSucceedsWithExactlyTheGivenSideband) {
  TypeParam stream;
  for (int flags = 0; flags < 4; ++flags) {
    EXPECT_TRUE(stream.tryWrite(flags, flags & 1, flags & 2));
    EXPECT_TRUE(stream.tryWrite(flags + 10, flags & 2, flags & 1, flags - 2));
  }
  for (int flags = 0; flags < 4; ++flags) {
    bool sop = false;
    bool eop = false;
    int empty = 77;
    EXPECT_EQ(stream.read(sop, eop, empty, false), flags);
    EXPECT_EQ(sop, (flags & 1) != 0);
    EXPECT_EQ(eop, (flags & 2) != 0);
    EXPECT_EQ(empty, 0);
    EXPECT_EQ(stream.read(sop, eop, empty, false), flags + 10);
    EXPECT_EQ(sop, (flags & 2) != 0);
    EXPECT_EQ(eop, (flags & 1) != 0);
    EXPECT_EQ(empty, flags - 2);
  }
}

// Reads assign start-of-packet before end-of-packet, so with both outputs
// bound to one variable it ends up holding end-of-packet.
TYPED_TEST(StreamSideband, EndOfPacketIsAssignedLast) {
  TypeParam stream;
  for (int i = 0; i < 4; ++i) {
    stream.write(i, i % 2 == 0, i % 2 == 1, i);
  }
  bool flag = false;
  bool success = false;
  int empty = 0;
  EXPECT_EQ(stream.read(flag, flag, false), 0);
  EXPECT_FALSE(flag);
  EXPECT_EQ(stream.read(flag, flag, empty, false), 1);
  EXPECT_TRUE(flag);
  EXPECT_EQ(stream.tryRead(success, flag, flag), 2);
  EXPECT_FALSE(flag);
  EXPECT_EQ(stream.tryRead(success, flag, flag, empty), 3);
  EXPECT_TRUE(flag);
}

TYPED_TEST(StreamSideband, BlockingSidebandReadIsWokenByPlainWrite) {
  empty_probe<TypeParam> stream;
  bool sop = true;
  bool eop = true;
  int empty = 5;
  int got = 0;
  write_while_readers_sleep(
      stream, [&] { stream.write(3); }, [&] { got = stream.read(sop, eop, empty, true); });
  EXPECT_EQ(got, 3);
  EXPECT_FALSE(sop);
  EXPECT_FALSE(eop);
  EXPECT_EQ(empty, 0);
}

TYPED_TEST(StreamSideband, BlockingSidebandReadsAreWokenBySidebandWrites) {
  empty_probe<TypeParam> stream;
  bool sop = false;
  bool eop = false;
  int empty = 0;
  int got = 0;
  write_while_readers_sleep(
      stream, [&] { stream.write(4, true, false, -2); },
      [&] { got = stream.read(sop, eop, empty, true); });
  EXPECT_EQ(got, 4);
  EXPECT_TRUE(sop);
  EXPECT_FALSE(eop);
  EXPECT_EQ(empty, -2);

  empty_probe<TypeParam> other;
  write_while_readers_sleep(
      other, [&] { other.tryWrite(6, false, true); }, [&] { got = other.read(sop, eop, true); });
  EXPECT_EQ(got, 6);
  EXPECT_FALSE(sop);
  EXPECT_TRUE(eop);
}

TYPED_TEST(StreamSidebandDeathTest, SidebandReadWithoutWaitOfEmptyStreamIsFatal) {
  TypeParam stream;
  bool sop = false;
  bool eop = false;
  int empty = 0;
  QRN_EXPECT_FATAL(stream.read(sop, eop, false), empty_read_error);
  QRN_EXPECT_FATAL(stream.read(sop, eop, empty, false), empty_read_error);
}

}  // namespace
}  // namespace qrn_test
