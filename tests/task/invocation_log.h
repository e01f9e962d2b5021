// Records, per task function, the values its invocations received, in the
// order in which they ran, and whether two invocations ever overlapped.
#ifndef QRN_TESTS_TASK_INVOCATION_LOG_H
#define QRN_TESTS_TASK_INVOCATION_LOG_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

namespace qrn_test {

class invocation_log {
 public:
  // Called by an invocation. Thread-safe.
  void record(int value) {
    if (inside_.fetch_add(1) != 0) {
      overlaps_.fetch_add(1);
    }
    // Widen the window in which a second invocation running at the same time
    // would be seen.
    for (int i = 0; i < 3; ++i) {
      std::this_thread::yield();
    }
    {
      std::lock_guard<std::mutex> lock(m_);
      values_.push_back(value);
    }
    inside_.fetch_sub(1);
    cv_.notify_all();
  }

  // Waits until at least `count` values are recorded and returns them all;
  // returns what is there if that takes longer than a minute (a lost
  // invocation).
  std::vector<int> wait_for_values(std::size_t count) {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait_for(lock, std::chrono::seconds(60), [&] { return values_.size() >= count; });
    return values_;
  }

  // Times an invocation started while another one was running.
  int overlaps() const { return overlaps_.load(); }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<int> values_;  // guarded by m_
  std::atomic<int> inside_{0};
  std::atomic<int> overlaps_{0};
};

}  // namespace qrn_test

#endif  // QRN_TESTS_TASK_INVOCATION_LOG_H
