// A one-shot countdown latch for tests: threads wait on it instead of sleeping.
#ifndef QRN_TESTS_TASK_LATCH_H
#define QRN_TESTS_TASK_LATCH_H

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qrn_test {

class latch {
 public:
  explicit latch(int count) : count_(count) {}

  // Thread-safe. Notifies while holding the mutex, so a waiter that sees
  // zero may destroy the latch as soon as it returns.
  void count_down() {
    std::lock_guard<std::mutex> lock(m_);
    --count_;
    cv_.notify_all();
  }

  // Waits until the count has reached zero; false when `limit` passed first.
  // The limit only turns a lost wake-up into a failure instead of a hang.
  bool wait_for(std::chrono::seconds limit = std::chrono::seconds(60)) {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, limit, [this] { return count_ <= 0; });
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  int count_;  // guarded by m_
};

}  // namespace qrn_test

#endif  // QRN_TESTS_TASK_LATCH_H
