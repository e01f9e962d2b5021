// Shared pieces of the stream tests: the stream types every typed test runs
// on, a stream whose emptiness test can be observed and forced, a latch, and
// the check for the library's fatal errors.
#ifndef QRN_TESTS_STREAM_STREAM_TEST_SUPPORT_H
#define QRN_TESTS_STREAM_STREAM_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <type_traits>

#include "HLS/hls.h"

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
// must be a string literal without regular-expression metacharacters.
#define QRN_EXPECT_FATAL(statement, message) \
  EXPECT_EXIT(                               \
      {                                      \
        ::dup2(2, 1);                        \
        statement;                           \
      },                                     \
      ::testing::ExitedWithCode(1), std::string("^Error: ") + (message) + "\n$")

// A stream whose emptiness test (dispatch slot 0) reports every "empty" answer
// and can be forced to answer "empty" while elements are stored.
//
// The stream asks slot 0 while it holds its mutex, and a blocking read keeps
// the mutex until it sleeps on the condition variable. So once a blocking
// read got its "empty", a write made afterwards finds that reader asleep.
// Thread-safe.
template <typename Stream>
class empty_probe : public Stream {
 public:
  bool _internal_cosim_empty() override {
    const bool empty = hidden_ || Stream::_internal_cosim_empty();
    if (empty) {
      {
        std::lock_guard<std::mutex> lock(probe_m_);
        ++empty_answers_;
      }
      probe_cv_.notify_all();
    }
    return empty;
  }

  // While `hidden` is true the stream claims to be empty.
  void hide_elements(bool hidden) { hidden_ = hidden; }

  // Called by a reader thread when its read has returned.
  void note_read_returned() {
    {
      std::lock_guard<std::mutex> lock(probe_m_);
      ++returned_reads_;
    }
    probe_cv_.notify_all();
  }

  // Blocks until slot 0 has answered "empty" `count` times or a read has
  // returned; true in the first case.
  bool wait_for_empty_answers(int count) {
    std::unique_lock<std::mutex> lock(probe_m_);
    probe_cv_.wait(lock, [&] { return empty_answers_ >= count || returned_reads_ > 0; });
    return returned_reads_ == 0;
  }

 private:
  std::atomic<bool> hidden_{false};
  std::mutex probe_m_;  // taken inside the stream's mutex, never around it
  std::condition_variable probe_cv_;
  int empty_answers_ = 0;   // guarded by probe_m_
  int returned_reads_ = 0;  // guarded by probe_m_
};

// Runs each of the blocking `readers` on its own thread, waits until all of
// them have found `stream` empty (so they sleep on it), then runs `write` on
// this thread and joins the readers. A read that returns before `write` ran
// fails the test.
template <typename Stream, typename Write, typename... Reads>
void write_while_readers_sleep(empty_probe<Stream>& stream, Write write, Reads... readers) {
  std::thread threads[] = {std::thread([&stream, readers] {
    readers();
    stream.note_read_returned();
  })...};
  EXPECT_TRUE(stream.wait_for_empty_answers(static_cast<int>(sizeof...(Reads))))
      << "a blocking read returned before anything was written";
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
