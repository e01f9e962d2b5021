// The in-process stream scenarios, written once for every implementation.
// `Impl` names the stream types: `Impl::input` and `Impl::output`, each with
// read(bool), write, tryRead and tryWrite of int elements.
#ifndef QRN_BENCH_STREAM_SCENARIOS_H
#define QRN_BENCH_STREAM_SCENARIOS_H

#include <benchmark/benchmark.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <new>
#include <string>
#include <thread>

#include "HLS/hls.h"
#include "baseline_stream.h"
#include "bench_options.h"
#include "heap_counter.h"

namespace qrn_bench {

struct qrn_streams {
  using input = qrn::stream_in<int>;
  using output = qrn::stream_out<int>;
};

struct baseline_streams {
  using input = baseline_stream<int>;
  using output = baseline_stream<int>;
};

// Reports the time per unit of work (`units` per iteration) under `name`.
inline void report_per_unit(benchmark::State& state, const char* name, double units) {
  state.counters[name] = benchmark::Counter(
      units, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

inline double thread_cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// S1: one thread writes an element and takes it back with tryRead.
template <typename Impl>
void write_then_try_read(benchmark::State& state) {
  typename Impl::input stream;
  int value = 0;
  bool all_returned = true;
  for (auto _ : state) {
    stream.write(value);
    bool success = false;
    const int got = stream.tryRead(success);
    all_returned = all_returned && success && got == value;
    ++value;
  }
  if (!all_returned) {
    state.SkipWithError("tryRead did not return the element just written");
  }
  report_per_unit(state, "ns_per_pair", 1);
}

// S2: a producer thread writes `elements` ints; this thread spins on tryRead
// until all of them arrived, and checks their order.
template <typename Impl>
void producer_to_spinning_consumer(benchmark::State& state) {
  const long elements = options().elements;
  bool in_order = true;
  for (auto _ : state) {
    alignas(64) typename Impl::input stream;
    std::thread producer([&stream, elements] {
      for (long i = 0; i < elements; ++i) {
        stream.write(static_cast<int>(i));
      }
    });
    for (long expected = 0; expected < elements;) {
      bool success = false;
      const int got = stream.tryRead(success);
      if (success) {
        in_order = in_order && got == static_cast<int>(expected);
        ++expected;
      }
    }
    producer.join();
  }
  if (!in_order) {
    state.SkipWithError("elements arrived out of order");
  }
  report_per_unit(state, "ns_per_elem", static_cast<double>(elements));
}

// S4: an echo thread reads with read(true) from one stream and writes what it
// got to another, from which this thread reads with read(true).
template <typename Impl>
void blocking_ping_pong(benchmark::State& state) {
  typename Impl::input there;
  typename Impl::output back;
  std::thread echo([&there, &back] {
    for (;;) {
      const int value = there.read(true);
      if (value < 0) {
        return;
      }
      back.write(value);
    }
  });
  int value = 0;
  bool all_echoed = true;
  for (auto _ : state) {
    there.write(value);
    all_echoed = all_echoed && back.read(true) == value;
    value = (value + 1) & 0x3fffffff;
  }
  there.write(-1);
  echo.join();
  if (!all_echoed) {
    state.SkipWithError("a round trip returned another value");
  }
  report_per_unit(state, "ns_per_round_trip", 1);
}

// S5: a reader blocks in read(true) on an empty stream until this thread
// writes, `options().blocked` later; reports the reader's CPU time per second
// blocked.
template <typename Impl>
void blocked_reader_cpu(benchmark::State& state) {
  double cpu_seconds = 0;
  double blocked_seconds = 0;
  bool got_it = true;
  for (auto _ : state) {
    typename Impl::input stream;
    std::atomic<bool> reading{false};
    double reader_cpu = 0;
    std::thread reader([&stream, &reading, &reader_cpu, &got_it] {
      const double before = thread_cpu_seconds();
      reading.store(true);
      const int value = stream.read(true);
      reader_cpu = thread_cpu_seconds() - before;
      got_it = value == 7;
    });
    while (!reading.load()) {
      std::this_thread::yield();
    }
    const auto started = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(options().blocked);
    stream.write(7);
    reader.join();
    blocked_seconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    cpu_seconds += reader_cpu;
  }
  if (!got_it) {
    state.SkipWithError("the blocked reader got another value");
  }
  state.counters["cpu_us_per_s"] = cpu_seconds / blocked_seconds * 1e6;
}

// S6 (memory): builds and destroys an empty stream; reports its object size
// and the heap its construction allocates.
template <typename Impl>
void empty_stream_memory(benchmark::State& state) {
  using stream_type = typename Impl::input;
  std::size_t heap_bytes = 0;
  for (auto _ : state) {
    alignas(stream_type) unsigned char storage[sizeof(stream_type)];
    const std::size_t before = heap_bytes_allocated_by_this_thread();
    stream_type* stream = new (storage) stream_type;
    heap_bytes = heap_bytes_allocated_by_this_thread() - before;
    benchmark::DoNotOptimize(stream);
    stream->stream_type::~stream_type();
  }
  state.counters["object_bytes"] = sizeof(stream_type);
  state.counters["heap_bytes"] = static_cast<double>(heap_bytes);
  report_per_unit(state, "ns_per_stream", 1);
}

}  // namespace qrn_bench

#endif  // QRN_BENCH_STREAM_SCENARIOS_H
