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
  sideband got{false, true, 0};
  EXPECT_EQ(stream.read(got.sop, got.eop, true), 7);
  EXPECT_EQ(got, (sideband{true, false, 0}));
  EXPECT_EQ(stream.read(got.sop, got.eop, true), 8);
  EXPECT_EQ(got, (sideband{false, true, 0}));
  EXPECT_EQ(stream.get_size(), 0u);
}

TYPED_TEST(StreamSideband, CountTravelsWithItsElement) {
  TypeParam stream;
  stream.write(5, true, true, 3);
  stream.write(6);
  sideband got{};
  EXPECT_EQ(stream.read(got.sop, got.eop, got.empty, true), 5);
  EXPECT_EQ(got, (sideband{true, true, 3}));
  EXPECT_EQ(stream.read(got.sop, got.eop, got.empty, false), 6);
  EXPECT_EQ(got, (sideband{false, false, 0}));
}

TYPED_TEST(StreamSideband, ReadWithoutCountDiscardsItAndTheNextCountIsItsOwn) {
  TypeParam stream;
  stream.write(5, true, true, 3);
  stream.write(6, false, false, 8);
  sideband got{false, false, -1};
  EXPECT_EQ(stream.read(got.sop, got.eop, true), 5);
  EXPECT_EQ(got, (sideband{true, true, -1}));
  EXPECT_EQ(stream.read(got.sop, got.eop, got.empty, true), 6);
  EXPECT_EQ(got, (sideband{false, false, 8}));
}

TYPED_TEST(StreamSideband, FlagWriteStoresCountZero) {
  TypeParam stream;
  stream.write(9, true, false);
  bool success = false;
  sideband got{false, true, 99};
  EXPECT_EQ(stream.tryRead(success, got.sop, got.eop, got.empty), 9);
  EXPECT_TRUE(success);
  EXPECT_EQ(got, (sideband{true, false, 0}));
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
    sideband got{false, false, 12345};
    const int value = index % 2 == 0 ? stream.read(got.sop, got.eop, got.empty, false)
                                     : stream.tryRead(success, got.sop, got.eop, got.empty);
    EXPECT_EQ(value, index);
    EXPECT_EQ(got, (sideband{index % 2 == 1, index % 2 == 0, count}));
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
  sideband got{true, false, 0};
  EXPECT_EQ(stream.read(got.sop, got.eop, got.empty, false), 2);
  EXPECT_EQ(got, (sideband{false, true, 6}));
}

TYPED_TEST(StreamSideband, FailedTryReadLeavesEveryOutputAlone) {
  TypeParam stream;
  stream.write(1, false, false, 0);
  EXPECT_EQ(stream.read(false), 1);  // drained: the front entries are gone

  const sideband untouched{true, true, 123};
  sideband got = untouched;
  bool success = true;
  EXPECT_EQ(stream.tryRead(success, got.sop, got.eop), 0);
  EXPECT_FALSE(success);
  EXPECT_EQ(got, untouched);

  success = true;
  EXPECT_EQ(stream.tryRead(success, got.sop, got.eop, got.empty), 0);
  EXPECT_FALSE(success);
  EXPECT_EQ(got, untouched);
  EXPECT_EQ(stream.get_size(), 0u);
}

TYPED_TEST(StreamSideband, TryWriteAlwaysSucceedsWithExactlyTheGivenSideband) {
  TypeParam stream;
  const sideband written[] = {
      {false, false, 0}, {true, false, -2}, {false, true, 7}, {true, true, INT_MAX}};
  for (const sideband& s : written) {
    EXPECT_TRUE(stream.tryWrite(1, s.sop, s.eop));
    EXPECT_TRUE(stream.tryWrite(2, s.sop, s.eop, s.empty));
  }
  for (const sideband& s : written) {
    sideband got{!s.sop, !s.eop, 77};
    EXPECT_EQ(stream.read(got.sop, got.eop, got.empty, false), 1);
    EXPECT_EQ(got, (sideband{s.sop, s.eop, 0}));
    EXPECT_EQ(stream.read(got.sop, got.eop, got.empty, false), 2);
    EXPECT_EQ(got, s);
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
  TypeParam stream;
  sideband got{true, true, 5};
  int value = 0;
  write_while_readers_sleep([&] { stream.write(3); },
                            [&] { value = stream.read(got.sop, got.eop, got.empty, true); });
  EXPECT_EQ(value, 3);
  EXPECT_EQ(got, (sideband{false, false, 0}));
}

TYPED_TEST(StreamSideband, BlockingSidebandReadsAreWokenBySidebandWrites) {
  TypeParam stream;
  sideband got{false, false, 0};
  int value = 0;
  write_while_readers_sleep([&] { stream.write(4, true, false, -2); },
                            [&] { value = stream.read(got.sop, got.eop, got.empty, true); });
  EXPECT_EQ(value, 4);
  EXPECT_EQ(got, (sideband{true, false, -2}));

  TypeParam other;
  write_while_readers_sleep([&] { other.tryWrite(6, false, true); },
                            [&] { value = other.read(got.sop, got.eop, true); });
  EXPECT_EQ(value, 6);
  EXPECT_EQ(got, (sideband{false, true, -2}));
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
