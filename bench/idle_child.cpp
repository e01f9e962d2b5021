// The program behind S8-S10: idle polling components in a process of their
// own, since always-running components live until the process ends.
//
// Usage: qrn_bench_idle_child <what> <components> <samples>
//   cpu      launches <components> polling components with empty inputs,
//            lets them settle, and prints the process's CPU milliseconds per
//            second over <samples> x 10 ms: "cpu_ms_per_s <value>"
//   latency  the same components; <samples> times, after a pause of a few
//            milliseconds, writes one element to component 0 and spins on its
//            output until the result is there: "median_us <value>"
//   either   one component polling two inputs; alternately writes to the
//            first and the second: "first_us <value> second_us <value>"
// Every measurement also checks each result; a wrong or missing one makes the
// program print what went wrong and exit 1.
#include <time.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "HLS/hls.h"
#include "HLS/task.h"

namespace {

constexpr int most_components = 64;
qrn::stream_in<int> inputs[most_components];
qrn::stream_out<int> outputs[most_components];
qrn::stream_in<int> second_input;  // of two_input_poller

using steady = std::chrono::steady_clock;

// Adds one to what it finds on its input; never blocks.
template <int i>
void poller() {
  bool success = false;
  const int x = inputs[i].tryRead(success);
  if (success) {
    outputs[i].write(x + 1);
  }
}

// Adds one to what it finds on either input; never blocks.
void two_input_poller() {
  bool success = false;
  int x = inputs[0].tryRead(success);
  if (!success) {
    x = second_input.tryRead(success);
  }
  if (success) {
    outputs[0].write(x + 1);
  }
}

using launch_fn = void (*)();

template <int... i>
std::array<launch_fn, sizeof...(i)> launchers(std::integer_sequence<int, i...> /*unused*/) {
  return {{&qrn::launch_always_run<poller<i>>...}};
}

void launch_pollers(int count) {
  static const std::array<launch_fn, most_components> all =
      launchers(std::make_integer_sequence<int, most_components>());
  for (int i = 0; i < count; ++i) {
    all[static_cast<std::size_t>(i)]();
  }
}

double process_cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Lets freshly launched components run out of work and reach their longest
// pause.
void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }

// Writes `value` to `input` and spins on component 0's output until its
// result is there; the microseconds that took, or a negative number after a
// wrong result.
double through_component(qrn::stream_in<int>& input, int value) {
  const steady::time_point started = steady::now();
  input.write(value);
  for (;;) {
    bool success = false;
    const int got = outputs[0].tryRead(success);
    if (success) {
      const double micros =
          std::chrono::duration<double, std::micro>(steady::now() - started).count();
      if (got != value + 1) {
        std::printf("sent %d, got %d\n", value, got);
        return -1;
      }
      return micros;
    }
  }
}

// Pauses of 1 to 8 ms between samples, so that the component is caught at
// every stage of its pauses.
void pause_before_sample(int sample) {
  std::this_thread::sleep_for(std::chrono::microseconds(1000 + (sample * 2731) % 7000));
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// After the measurement: every component still answers.
bool all_answer(int components) {
  for (int i = 0; i < components; ++i) {
    inputs[i].write(i);
  }
  for (int i = 0; i < components; ++i) {
    if (outputs[i].read(true) != i + 1) {
      std::printf("component %d answered wrongly\n", i);
      return false;
    }
  }
  return true;
}

int measure_cpu(int components, int samples) {
  launch_pollers(components);
  settle();
  const double cpu_before = process_cpu_seconds();
  const steady::time_point started = steady::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(10) * samples);
  const double cpu = process_cpu_seconds() - cpu_before;
  const double wall = std::chrono::duration<double>(steady::now() - started).count();
  if (!all_answer(components)) {
    return 1;
  }
  std::printf("cpu_ms_per_s %.3f\n", cpu / wall * 1e3);
  return 0;
}

int measure_latency(int components, int samples) {
  launch_pollers(components);
  settle();
  std::vector<double> micros;
  for (int sample = 0; sample < samples; ++sample) {
    pause_before_sample(sample);
    micros.push_back(through_component(inputs[0], sample));
    if (micros.back() < 0) {
      return 1;
    }
  }
  if (!all_answer(components)) {
    return 1;
  }
  std::printf("median_us %.3f\n", median(micros));
  return 0;
}

int measure_either(int samples) {
  qrn::launch_always_run<two_input_poller>();
  settle();
  std::vector<double> first;
  std::vector<double> second;
  for (int sample = 0; sample < 2 * samples; ++sample) {
    pause_before_sample(sample);
    const bool use_first = sample % 2 == 0;
    const double micros = through_component(use_first ? inputs[0] : second_input, sample);
    if (micros < 0) {
      return 1;
    }
    (use_first ? first : second).push_back(micros);
  }
  std::printf("first_us %.3f second_us %.3f\n", median(first), median(second));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc == 4 ? argv[1] : "";
  const int components = argc == 4 ? std::atoi(argv[2]) : 0;
  const int samples = argc == 4 ? std::atoi(argv[3]) : 0;
  if (components < 1 || components > most_components || samples < 1) {
    std::printf("usage: %s cpu|latency|either <components 1-%d> <samples>\n", argv[0],
                most_components);
    return 1;
  }
  if (what == "cpu") {
    return measure_cpu(components, samples);
  }
  if (what == "latency") {
    return measure_latency(components, samples);
  }
  if (what == "either") {
    return measure_either(samples);
  }
  std::printf("unknown measurement %s\n", what.c_str());
  return 1;
}
