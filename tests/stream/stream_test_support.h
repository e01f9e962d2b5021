// Shared pieces of the stream tests: the stream types every typed test runs
// on, the sideband as one value, the check for the library's fatal errors,
// writing to sleeping readers, and a latch.
#ifndef QRN_TESTS_STREAM_STREAM_TEST_SUPPORT_H
#define QRN_TESTS_STREAM_STREAM_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <type_traits>

#include "HLS/hls.h"
#include "HLS/internal/activity.h"

namespace qrn_test {

// The three stream classes a component or test bench can hold.
using stream_types =
    ::testing::Types<qrn::internal::stream<int>, qrn::stream_in<int>, qrn::stream_out<int>>;

// Readable names for typed tests ("stream", "stream_in", "stream_out").
struct stream_type_names {
  template <typename Stream>
  static std::string GetName(int) {
    if (std::is_same<Stream, qrn::stream_in<int>>::value) {
      return "stream_in";
    }
    if (std::is_same<Stream, qrn::stream_out<int>>::value) {
      return "stream_out";
    }
    return "stream";
  }
};

// True for stream_in<int> and stream_out<int>, whose tryWrite calls the
// interface's own write directly instead of through the dispatch table.
template <typename Stream>
constexpr bool is_directional() {
  return !std::is_same<Stream, qrn::internal::stream<int>>::value;
}

// The depth every stream of the test has: QRN_DEPTH_DEFAULT when the run
// declares depths (QRN_DEPTH=declared) and links the runtime, which applies
// it; otherwise none (SIZE_MAX).
inline std::size_t declared_default_depth() {
  const char* mode = std::getenv("QRN_DEPTH");
  const char* depth = std::getenv("QRN_DEPTH_DEFAULT");
  if (mode == nullptr || std::string(mode) != "declared" || depth == nullptr) {
    return SIZE_MAX;
  }
  return std::stoul(depth);
}

// The sideband of one element, compared and printed as one value.
struct sideband {
  bool sop;
  bool eop;
  int empty;
};
inline bool operator==(const sideband& a, const sideband& b) {
  return a.sop == b.sop && a.eop == b.eop && a.empty == b.empty;
}
inline std::ostream& operator<<(std::ostream& out, const sideband& s) {
  return out << "{sop " << s.sop << ", eop " << s.eop << ", empty " << s.empty << "}";
}

// The message of every fatal empty-stream access.
constexpr const char* empty_read_error =
    "Cannot do a blocking read from an empty stream on an x86 target";

// Expects `statement` to print exactly the line "Error: <message>" and end
// the process with status 1. The reporter prints on standard output; the
// child sends it to standard error, where the death test looks. `message`
// must contain no regular-expression metacharacters.
#define QRN_EXPECT_FATAL(statement, message) \
  EXPECT_EXIT(                               \
      {                                      \
        ::dup2(2, 1);                        \
        statement;                           \
      },                                     \
      ::testing::ExitedWithCode(1), std::string("^Error: ") + (message) + "\n$")

// Runs each of the blocking `readers` on its own thread, waits until every
// one of them sleeps on its stream, then runs `write` on this thread and
// joins the readers. A read that returns before `write` ran fails the test.
//
// Each reader thread carries an always-running component's activity record,
// which a blocking read marks asleep while it still holds the stream's mutex,
// right before it waits on the condition variable. A write made after every
// record says "asleep" therefore finds the readers asleep, not polling.
template <typename Write, typename... Reads>
void write_while_readers_sleep(Write write, Reads... readers) {
  using qrn::internal::always_run_record;
  always_run_record records[sizeof...(Reads)];
  std::atomic<int> returned_reads{0};
  std::size_t next_record = 0;
  std::thread threads[] = {std::thread(
      [&returned_reads, readers](always_run_record* record) {
        qrn::internal::current_always_run_record() = record;
        readers();
        qrn::internal::current_always_run_record() = nullptr;
        ++returned_reads;
      },
      &records[next_record++])...};

  auto all_asleep = [&records] {
    for (const always_run_record& record : records) {
      if (!record.asleep.load()) {
        return false;
      }
    }
    return true;
  };
  while (!all_asleep() && returned_reads.load() == 0) {
    std::this_thread::yield();
  }
  EXPECT_EQ(returned_reads.load(), 0) << "a blocking read returned before anything was written";
  write();
  for (std::thread& thread : threads) {
    thread.join();
  }
}

// One-shot countdown latch: count_down() by the participants, wait() until
// the count reaches zero.
class latch {
 public:
  explicit latch(int count) : count_(count) {}

  void count_down() {
    bool released;
    {
      std::lock_guard<std::mutex> lock(m_);
      released = --count_ == 0;
    }
    if (released) {
      cv_.notify_all();
    }
  }
  void wait() {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return count_ == 0; });
  }
  void arrive_and_wait() {
    count_down();
    wait();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  int count_;  // guarded by m_
};

}  // namespace qrn_test

#endif  // QRN_TESTS_STREAM_STREAM_TEST_SUPPORT_H
