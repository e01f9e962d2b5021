// Stall and ready/valid period model: the generator sequence, the periods the
// setters draw, the directional interfaces' validation and the per-cycle
// stall() decision.
//
// The generator sequence is per element type and never reseeded, and this
// test program is one process. So every test that depends on the sequence
// uses streams of an element type of its own (`tagged<__LINE__, ...>`): it
// starts from the first number whatever ran before it.
#include <gtest/gtest.h>

#include <string>

#include "stream_test_support.h"

namespace qrn_test {
namespace {

// The first numbers of the generator sequence.
constexpr unsigned int first_draw = 3048033998u;
constexpr unsigned int second_draw = 3746490460u;
constexpr unsigned int third_draw = 411637087u;
constexpr unsigned int fourth_draw = 3336355023u;
constexpr unsigned int fifth_draw = 285663429u;

template <int Tag, typename Kind = void>
struct tagged {
  int value;
};

// Exposes the drawn period of the timing model.
template <typename Stream>
class timing_probe : public Stream {
 public:
  unsigned int remaining_period() const { return this->m_remaining_period; }
  unsigned int period_threshold() const { return this->m_period_threshold; }
};

// One of the three stream class templates; `fresh<Tag>` is a probe stream with
// an element type, and so a generator sequence, of its own.
template <template <typename...> class StreamTemplate>
struct stream_kind {
  template <int Tag>
  using fresh = timing_probe<StreamTemplate<tagged<Tag, stream_kind>>>;
};
using plain_kind = stream_kind<qrn::internal::stream>;
using in_kind = stream_kind<qrn::stream_in>;
using out_kind = stream_kind<qrn::stream_out>;

struct kind_names {
  template <typename Kind>
  static std::string GetName(int) {
    if (std::is_same<Kind, in_kind>::value) {
      return "stream_in";
    }
    if (std::is_same<Kind, out_kind>::value) {
      return "stream_out";
    }
    return "stream";
  }
};

template <typename Stream>
void expect_period(const Stream& stream, unsigned int remaining, unsigned int threshold) {
  EXPECT_EQ(stream.remaining_period(), remaining);
  EXPECT_EQ(stream.period_threshold(), threshold);
}

template <typename Stream>
void expect_parameters(const Stream& stream, unsigned int average_stall, unsigned int stall_delta,
                       unsigned int average_RoV, unsigned int RoV_delta) {
  EXPECT_EQ(stream.get_average_stall(), average_stall);
  EXPECT_EQ(stream.get_stall_delta(), stall_delta);
  EXPECT_EQ(stream.get_average_RoV(), average_RoV);
  EXPECT_EQ(stream.get_RoV_delta(), RoV_delta);
}

// 'T' for each of `cycles` calls of stall() that stalled, 'F' for the others.
template <typename Stream>
std::string stall_pattern(Stream& stream, int cycles) {
  std::string pattern;
  for (int i = 0; i < cycles; ++i) {
    pattern += stream.stall() ? 'T' : 'F';
  }
  return pattern;
}

template <typename Kind>
class StreamTiming : public ::testing::Test {};
using all_kinds = ::testing::Types<plain_kind, in_kind, out_kind>;
TYPED_TEST_SUITE(StreamTiming, all_kinds, kind_names);

template <typename Kind>
class DirectionalTimingDeathTest : public ::testing::Test {};
using directional_kinds = ::testing::Types<in_kind, out_kind>;
TYPED_TEST_SUITE(DirectionalTimingDeathTest, directional_kinds, kind_names);

TYPED_TEST(StreamTiming, ConstructionSetsTheNeutralModelAndDrawsNothing) {
  using fresh_stream = typename TypeParam::template fresh<__LINE__>;
  fresh_stream stream;
  fresh_stream another;
  expect_period(stream, 1, 1);
  expect_parameters(stream, 0, 0, 1, 0);
  EXPECT_EQ(stream.msws(), first_draw);
  EXPECT_EQ(another.msws(), second_draw);
  EXPECT_EQ(stream.msws(), third_draw);
}

TYPED_TEST(StreamTiming, StallSpreadDrawsOnceThenReadyValidSpreadRedrawsBoth) {
  using fresh_stream = typename TypeParam::template fresh<__LINE__>;
  fresh_stream stream;
  stream.setStallCycles(10, 2);
  expect_parameters(stream, 10, 2, 1, 0);
  expect_period(stream, 12, 1);  // 8 + first_draw % 5 = 11, + 1

  stream.setReadyorValidCycles(4, 1);
  expect_parameters(stream, 10, 2, 4, 1);
  expect_period(stream, 12, 4);  // 8 + second_draw % 5 = 8, + 3 + third_draw % 3 = 4
  EXPECT_EQ(stream.msws(), fourth_draw);
}

TYPED_TEST(StreamTiming, ReadyValidSpreadAloneDrawsOnce) {
  using fresh_stream = typename TypeParam::template fresh<__LINE__>;
  fresh_stream stream;
  stream.setReadyorValidCycles(4, 1);
  expect_period(stream, 5, 5);  // 3 + first_draw % 3 = 5, + stall 0
  EXPECT_EQ(stream.msws(), second_draw);
}

TYPED_TEST(StreamTiming, ParametersWithoutSpreadDrawNothing) {
  using fresh_stream = typename TypeParam::template fresh<__LINE__>;
  fresh_stream stream;
  stream.setStallCycles(5, 0);
  expect_period(stream, 6, 1);
  stream.setReadyorValidCycles(3, 0);
  expect_period(stream, 8, 3);
  EXPECT_EQ(stream.msws(), first_draw);
}

TYPED_TEST(StreamTiming, StallSpreadEqualToAverageIsAccepted) {
  using fresh_stream = typename TypeParam::template fresh<__LINE__>;
  fresh_stream stream;
  stream.setStallCycles(4, 4);
  expect_parameters(stream, 4, 4, 1, 0);
  expect_period(stream, 3, 1);  // 0 + first_draw % 9 = 2, + 1
}

TYPED_TEST(StreamTiming, StreamsOfOneElementTypeShareTheSequence) {
  using fresh_stream = typename TypeParam::template fresh<__LINE__>;
  using other_type_stream = typename TypeParam::template fresh<__LINE__>;
  fresh_stream first;
  fresh_stream second;
  other_type_stream other;
  first.setStallCycles(10, 2);
  second.setStallCycles(10, 2);
  other.setStallCycles(10, 2);
  expect_period(first, 12, 1);  // 8 + first_draw % 5, + 1
  expect_period(second, 9, 1);  // 8 + second_draw % 5, + 1
  expect_period(other, 12, 1);  // its own sequence
}

TYPED_TEST(StreamTiming, NeverStallsWithConstructionParameters) {
  using fresh_stream = typename TypeParam::template fresh<__LINE__>;
  fresh_stream stream;
  EXPECT_EQ(stall_pattern(stream, 50), std::string(50, 'F'));
  expect_period(stream, 1, 1);
  EXPECT_EQ(stream.msws(), first_draw);
}

TYPED_TEST(StreamTiming, StallsForTheStallThenPassesForTheWindow) {
  using fresh_stream = typename TypeParam::template fresh<__LINE__>;
  fresh_stream stream;
  stream.setStallCycles(3, 0);
  stream.setReadyorValidCycles(2, 0);
  EXPECT_EQ(stall_pattern(stream, 15), "TTTFFTTTFFTTTFF");
}

TYPED_TEST(StreamTiming, DrawsANewPeriodAfterEachWindow) {
  using fresh_stream = typename TypeParam::template fresh<__LINE__>;
  fresh_stream stream;
  stream.setStallCycles(10, 2);  // stalls 8 + first_draw % 5 = 11 cycles
  const std::string expected = std::string(11, 'T') + 'F' +  // then 8 + second_draw % 5
                               std::string(8, 'T') + 'F' +   // then 8 + third_draw % 5
                               std::string(10, 'T') + 'F';   // the last cycle draws again
  EXPECT_EQ(stall_pattern(stream, static_cast<int>(expected.size())), expected);
  EXPECT_EQ(stream.msws(), fifth_draw);
}

TEST(PlainStreamTiming, StallSpreadAboveAverageWrapsAround) {
  timing_probe<qrn::internal::stream<tagged<__LINE__>>> stream;
  stream.setStallCycles(3, 4);
  expect_parameters(stream, 3, 4, 1, 0);
  expect_period(stream, 2, 1);  // 3 - 4 + first_draw % 9 = 1 modulo 2^32, + 1
}

TYPED_TEST(DirectionalTimingDeathTest, StallSpreadAboveAverageIsFatal) {
  typename TypeParam::template fresh<__LINE__> stream;
  QRN_EXPECT_FATAL(stream.setStallCycles(3, 4),
                   "The stall delta in setStallCycles cannot be larger than the average stall "
                   "value");
  QRN_EXPECT_FATAL(stream.setStallCycles(0, 1),
                   "The stall delta in setStallCycles cannot be larger than the average stall "
                   "value");
}

// setValidCycles and setReadyCycles store the ready/valid pair as
// setReadyorValidCycles does; `Stream` must be fresh.
template <typename Stream>
void expect_sets_ready_valid_window(void (Stream::*set_window)(unsigned int, unsigned int)) {
  Stream stream;
  (stream.*set_window)(4, 1);
  expect_parameters(stream, 0, 0, 4, 1);
  expect_period(stream, 5, 5);  // 3 + first_draw % 3
  (stream.*set_window)(6, 6);
  expect_parameters(stream, 0, 0, 6, 6);
  expect_period(stream, second_draw % 13, second_draw % 13);
  (stream.*set_window)(2, 0);
  expect_period(stream, 2, 2);
  EXPECT_EQ(stream.msws(), third_draw);
}

TEST(StreamInTiming, SetValidCyclesSetsTheReadyValidWindow) {
  using fresh_stream = timing_probe<qrn::stream_in<tagged<__LINE__>>>;
  expect_sets_ready_valid_window<fresh_stream>(&fresh_stream::setValidCycles);
}

TEST(StreamOutTiming, SetReadyCyclesSetsTheReadyValidWindow) {
  using fresh_stream = timing_probe<qrn::stream_out<tagged<__LINE__>>>;
  expect_sets_ready_valid_window<fresh_stream>(&fresh_stream::setReadyCycles);
}

TEST(StreamInTimingDeathTest, ValidSpreadAboveAverageIsFatal) {
  qrn::stream_in<int> stream;
  QRN_EXPECT_FATAL(stream.setValidCycles(3, 4),
                   "The valid delta in setValidCycles cannot be larger than the average valid "
                   "value");
}

TEST(StreamOutTimingDeathTest, ReadySpreadAboveAverageIsFatal) {
  qrn::stream_out<int> stream;
  QRN_EXPECT_FATAL(stream.setReadyCycles(3, 4),
                   "The ready delta in setReadyCycles cannot be larger than the average ready "
                   "value");
}

}  // namespace
}  // namespace qrn_test
