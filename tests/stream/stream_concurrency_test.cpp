// Many writers and readers on one stream: nothing is lost or duplicated, each
// reader sees every writer's elements in the order they were written, and
// every element comes out with its own sideband. Each scenario runs with 1, 2
// and 4 writers times 1, 2 and 4 readers.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "stream_test_support.h"

namespace qrn_test {
namespace {

struct thread_counts {
  int writers;
  int readers;
};

const thread_counts all_thread_counts[] = {{1, 1}, {1, 2}, {1, 4}, {2, 1}, {2, 2},
                                           {2, 4}, {4, 1}, {4, 2}, {4, 4}};

constexpr int elements_per_writer = 10000;

// Takes one element, spinning on tryRead until there is one.
template <typename TryRead>
int try_read_until_success(TryRead try_read) {
  bool success = false;
  int value = try_read(success);
  while (!success) {
    std::this_thread::yield();
    value = try_read(success);
  }
  return value;
}

// Writer w writes w * elements_per_writer + i for i = 0, 1, ...; with
// write_one(stream, value, i). Readers take exactly all of them, each with
// read_one(stream, n) for its n-th read. Then checks that every value came
// out exactly once and that each reader got each writer's values in order.
template <typename Stream, typename WriteOne, typename ReadOne>
void transfer_and_check(thread_counts counts, WriteOne write_one, ReadOne read_one) {
  SCOPED_TRACE(testing::Message() << counts.writers << " writers, " << counts.readers
                                  << " readers");
  Stream stream;
  const int total = counts.writers * elements_per_writer;
  std::atomic<int> claimed_reads{0};
  std::vector<std::vector<int>> received(counts.readers);
  latch start(counts.writers + counts.readers);

  std::vector<std::thread> threads;
  for (int w = 0; w < counts.writers; ++w) {
    threads.emplace_back([&, w] {
      start.arrive_and_wait();
      for (int i = 0; i < elements_per_writer; ++i) {
        write_one(stream, w * elements_per_writer + i, i);
      }
    });
  }
  for (int r = 0; r < counts.readers; ++r) {
    threads.emplace_back([&, r] {
      start.arrive_and_wait();
      for (int n = 0; claimed_reads.fetch_add(1) < total; ++n) {
        received[r].push_back(read_one(stream, n));
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }

  EXPECT_EQ(stream.get_size(), 0u);
  std::vector<int> times_seen(total, 0);
  for (const std::vector<int>& values : received) {
    std::vector<int> last_from_writer(counts.writers, -1);
    for (int value : values) {
      ASSERT_GE(value, 0);
      ASSERT_LT(value, total);
      ++times_seen[value];
      int& last = last_from_writer[value / elements_per_writer];
      EXPECT_LT(last, value) << "a writer's elements came out of order";
      last = value;
    }
  }
  for (int value = 0; value < total; ++value) {
    EXPECT_EQ(times_seen[value], 1) << "value " << value;
  }
}

template <typename Stream>
class StreamConcurrency : public ::testing::Test {};
TYPED_TEST_SUITE(StreamConcurrency, stream_types, stream_type_names);

TYPED_TEST(StreamConcurrency, PlainOperationsLoseAndDuplicateNothing) {
  auto write_one = [](TypeParam& stream, int value, int i) {
    if (i % 3 == 0) {
      stream.write(value);
    } else if (i % 3 == 1) {
      EXPECT_TRUE(stream.tryWrite(value));
    } else {
      static_cast<qrn::internal::stream_abstract_base&>(stream).write_by_ptr(&value);
    }
  };
  auto read_one = [](TypeParam& stream, int n) {
    if (n % 2 == 0) {
      return stream.read(true);
    }
    return try_read_until_success([&](bool& success) { return stream.tryRead(success); });
  };
  for (thread_counts counts : all_thread_counts) {
    transfer_and_check<TypeParam>(counts, write_one, read_one);
  }
}

// The sideband each element is written with, derived from its value.
bool sop_of(int value) { return value % 2 == 1; }
bool eop_of(int value) { return value % 3 == 0; }
int empty_of(int value) { return value * 7; }

TYPED_TEST(StreamConcurrency, EveryElementKeepsItsOwnSideband) {
  std::atomic<int> wrong_sidebands{0};
  auto write_one = [](TypeParam& stream, int value, int i) {
    if (i % 2 == 0) {
      stream.write(value, sop_of(value), eop_of(value), empty_of(value));
    } else {
      EXPECT_TRUE(stream.tryWrite(value, sop_of(value), eop_of(value), empty_of(value)));
    }
  };
  auto read_one = [&wrong_sidebands](TypeParam& stream, int n) {
    bool sop = false;
    bool eop = false;
    int empty = -1;
    bool peeked = false;  // a peek, racing the other readers, sees one whole element
    const int head = stream.tryPeek(peeked, sop, eop, empty);
    if (peeked && (sop != sop_of(head) || eop != eop_of(head) || empty != empty_of(head))) {
      ++wrong_sidebands;
    }
    int value = 0;
    switch (n % 4) {
      case 0:
        value = stream.read(sop, eop, empty, true);
        break;
      case 1:
        value = try_read_until_success(
            [&](bool& success) { return stream.tryRead(success, sop, eop, empty); });
        break;
      case 2:
        value = stream.read(sop, eop, true);
        empty = empty_of(value);  // this shape does not return the count
        break;
      default:
        value = try_read_until_success(
            [&](bool& success) { return stream.tryRead(success, sop, eop); });
        empty = empty_of(value);
        break;
    }
    if (sop != sop_of(value) || eop != eop_of(value) || empty != empty_of(value)) {
      ++wrong_sidebands;
    }
    return value;
  };
  for (thread_counts counts : all_thread_counts) {
    transfer_and_check<TypeParam>(counts, write_one, read_one);
    EXPECT_EQ(wrong_sidebands.exchange(0), 0);
  }
}

}  // namespace
}  // namespace qrn_test
