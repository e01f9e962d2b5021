// The straightforward implementation of the stream design that the
// benchmarks compare against: one std::mutex, three std::deques and one
// std::condition_variable; every operation locks the mutex, writes notify one
// waiter after unlocking, and a blocking read always sleeps when the stream is
// empty. Operations that reuse another one go through virtual calls, as in
// qrn::internal::stream<T>. Thread-safe.
#ifndef QRN_BENCH_BASELINE_STREAM_H
#define QRN_BENCH_BASELINE_STREAM_H

#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

namespace qrn_bench {

template <typename T>
class baseline_stream {
 public:
  baseline_stream() = default;
  baseline_stream(const baseline_stream&) = delete;
  baseline_stream& operator=(const baseline_stream&) = delete;
  virtual ~baseline_stream() = default;

  virtual bool empty() { return q_.empty(); }

  // Sleeps on cv_ while the stream is empty; `wait` false on an empty stream
  // is a usage error the benchmarks never make.
  virtual T read(bool wait = true) {
    std::unique_lock<std::mutex> lock(m_);
    (void)wait;
    cv_.wait(lock, [this] { return !empty(); });
    return take_front();
  }
  virtual void write(const T& arg) {
    {
      std::lock_guard<std::mutex> lock(m_);
      q_.push_back(arg);
      qp_.push_back(std::pair<bool, bool>(false, false));
      qpe_.push_back(0);
    }
    cv_.notify_one();
  }
  virtual T tryRead(bool& success) {
    std::lock_guard<std::mutex> lock(m_);
    success = !empty();
    return success ? take_front() : T();
  }
  virtual bool tryWrite(const T& arg) {
    write(arg);
    return true;
  }

 private:
  T take_front() {
    T elem = q_.front();
    q_.pop_front();
    qp_.pop_front();
    qpe_.pop_front();
    return elem;
  }

  std::deque<T> q_;                       // guarded by m_
  std::deque<std::pair<bool, bool>> qp_;  // guarded by m_
  std::deque<int> qpe_;                   // guarded by m_
  std::mutex m_;
  std::condition_variable cv_;
};

}  // namespace qrn_bench

#endif  // QRN_BENCH_BASELINE_STREAM_H
