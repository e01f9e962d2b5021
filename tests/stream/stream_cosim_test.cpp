// Co-simulation access: the by-pointer operations and peeks, used the way a
// harness uses them, through a `stream_abstract_base*` and untyped memory.
#include <gtest/gtest.h>

#include "stream_test_support.h"

namespace qrn_test {
namespace {

using qrn::internal::stream_abstract_base;

template <typename Stream>
class StreamCosim : public ::testing::Test {
 protected:
  // Reads the head element with read_by_ptr_pkt_e into `out`, starting from
  // values that differ from every sideband the tests write.
  static int read_packet(stream_abstract_base* base, sideband& out) {
    int data = -1;
    out = sideband{true, true, -99};
    base->read_by_ptr_pkt_e(&data, &out.sop, &out.eop, &out.empty);
    return data;
  }

  Stream stream_;
  stream_abstract_base* const base_ = &stream_;
};
TYPED_TEST_SUITE(StreamCosim, stream_types, stream_type_names);

template <typename Stream>
class StreamCosimDeathTest : public StreamCosim<Stream> {};
TYPED_TEST_SUITE(StreamCosimDeathTest, stream_types, stream_type_names);

TYPED_TEST(StreamCosim, ReportsElementSizeAndCount) {
  EXPECT_EQ(this->base_->get_data_size(), sizeof(int));
  EXPECT_TRUE(this->base_->_internal_cosim_empty());
  int data = 1;
  this->base_->write_by_ptr(&data);
  EXPECT_EQ(this->base_->get_size(), 1u);
  EXPECT_FALSE(this->base_->_internal_cosim_empty());
}

TYPED_TEST(StreamCosim, PeekLeavesThePacketElementForTheRead) {
  this->stream_.write(11, true, false, 2);
  int data = 0;
  sideband got{false, true, 0};
  this->base_->front_by_ptr_pkt_e(&data, &got.sop, &got.eop, &got.empty);
  EXPECT_EQ(data, 11);
  EXPECT_EQ(got, (sideband{true, false, 2}));
  EXPECT_EQ(this->base_->get_size(), 1u);

  EXPECT_EQ(this->read_packet(this->base_, got), 11);
  EXPECT_EQ(got, (sideband{true, false, 2}));
  EXPECT_EQ(this->base_->get_size(), 0u);
}

TYPED_TEST(StreamCosim, RepeatedPeeksSeeTheSameHeadAndChangeNothing) {
  int data = 21;
  bool sop = false;
  bool eop = true;
  this->base_->write_by_ptr_pkt(&data, &sop, &eop);
  data = 22;
  this->base_->write_by_ptr(&data);

  int first = 0;
  int second = 0;
  this->base_->front_by_ptr(&first);
  this->base_->front_by_ptr(&second);
  EXPECT_EQ(first, 21);
  EXPECT_EQ(second, 21);
  sop = true;
  eop = false;
  this->base_->front_by_ptr_pkt(&first, &sop, &eop);
  EXPECT_EQ(first, 21);
  EXPECT_FALSE(sop);
  EXPECT_TRUE(eop);
  EXPECT_EQ(this->stream_._internal_cosim_front(), 21);
  EXPECT_EQ(this->base_->get_size(), 2u);

  this->base_->read_by_ptr(&first);
  EXPECT_EQ(first, 21);
  this->base_->front_by_ptr(&second);
  EXPECT_EQ(second, 22);
  EXPECT_EQ(this->base_->get_size(), 1u);
}

TYPED_TEST(StreamCosim, TypedPeeksReportTheHeadSideband) {
  this->stream_.write(31, false, true, -3);
  sideband got{true, false, 0};
  EXPECT_EQ(this->stream_._internal_cosim_front(got.sop, got.eop), 31);
  EXPECT_EQ(got, (sideband{false, true, 0}));
  got = sideband{true, false, 0};
  EXPECT_EQ(this->stream_._internal_cosim_front(got.sop, got.eop, got.empty), 31);
  EXPECT_EQ(got, (sideband{false, true, -3}));
  EXPECT_EQ(this->stream_.get_size(), 1u);
}

TYPED_TEST(StreamCosim, PlainByPointerWriteCarriesEmptySideband) {
  int data = 42;
  this->base_->write_by_ptr(&data);
  sideband got{};
  EXPECT_EQ(this->read_packet(this->base_, got), 42);
  EXPECT_EQ(got, (sideband{false, false, 0}));
}

TYPED_TEST(StreamCosim, FlagByPointerWriteCarriesCountZero) {
  int data = 13;
  bool sop = true;
  bool eop = true;
  this->base_->write_by_ptr_pkt(&data, &sop, &eop);
  sideband got{};
  EXPECT_EQ(this->read_packet(this->base_, got), 13);
  EXPECT_EQ(got, (sideband{true, true, 0}));
}

TYPED_TEST(StreamCosim, PacketByPointerWriteIsReadByTypedTryRead) {
  int data = 17;
  sideband written{true, true, 5};
  this->base_->write_by_ptr_pkt_e(&data, &written.sop, &written.eop, &written.empty);
  bool success = false;
  sideband got{false, false, 0};
  EXPECT_EQ(this->stream_.tryRead(success, got.sop, got.eop, got.empty), 17);
  EXPECT_TRUE(success);
  EXPECT_EQ(got, written);
}

TYPED_TEST(StreamCosim, FlagByPointerReadReturnsTheFlags) {
  this->stream_.write(8, false, true, 4);
  int data = 0;
  bool sop = true;
  bool eop = false;
  this->base_->read_by_ptr_pkt(&data, &sop, &eop);
  EXPECT_EQ(data, 8);
  EXPECT_FALSE(sop);
  EXPECT_TRUE(eop);
  EXPECT_EQ(this->base_->get_size(), 0u);
}

TYPED_TEST(StreamCosim, ByPointerWriteWakesASleepingReader) {
  TypeParam stream;
  stream_abstract_base* base = &stream;
  int got = 0;
  write_while_readers_sleep(
      [&] {
        int data = 64;
        base->write_by_ptr(&data);
      },
      [&] { got = stream.read(true); });
  EXPECT_EQ(got, 64);
  EXPECT_EQ(base->get_size(), 0u);
}

TYPED_TEST(StreamCosimDeathTest, PeeksOfEmptyStreamAreFatal) {
  int data = 0;
  sideband got{};
  QRN_EXPECT_FATAL(this->base_->front_by_ptr(&data), empty_read_error);
  QRN_EXPECT_FATAL(this->base_->front_by_ptr_pkt(&data, &got.sop, &got.eop), empty_read_error);
  QRN_EXPECT_FATAL(this->base_->front_by_ptr_pkt_e(&data, &got.sop, &got.eop, &got.empty),
                   empty_read_error);
  QRN_EXPECT_FATAL(this->stream_._internal_cosim_front(), empty_read_error);
}

TYPED_TEST(StreamCosimDeathTest, ByPointerReadsOfEmptyStreamAreFatal) {
  int data = 0;
  sideband got{};
  QRN_EXPECT_FATAL(this->base_->read_by_ptr(&data), empty_read_error);
  QRN_EXPECT_FATAL(this->base_->read_by_ptr_pkt(&data, &got.sop, &got.eop), empty_read_error);
  QRN_EXPECT_FATAL(this->base_->read_by_ptr_pkt_e(&data, &got.sop, &got.eop, &got.empty),
                   empty_read_error);
}

}  // namespace
}  // namespace qrn_test
