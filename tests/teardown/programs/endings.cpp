// Two endings that meet, and a component that throws. Usage:
//   endings fatal <ns> <lead> main returns 0 while `fatal_reader` makes a
//                             fatal read: once both threads run, the reader
//                             waits <ns> nanoseconds, main <lead>;
//   endings two-endings <ns> <lead>
//                             the same, while `cycler` keeps moving elements
//                             round two streams and main's exit is held up
//                             flushing a pipe to a slow reader;
//   endings runtime-error|int a component throws std::runtime_error("boom")
//                             or the int 42 while main sleeps in read(true).
// The bench's lines are printed unflushed through std::cout and printf. A
// global constructed before the first launch reports on standard error if its
// destructor runs: every component here lives until the process ends.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "HLS/hls.h"
#include "HLS/task.h"

struct destructor_reporter {
  ~destructor_reporter() {
    const char line[] = "static destructor ran\n";
    (void)!write(STDERR_FILENO, line, sizeof line - 1);
  }
} reporter;

qrn::stream_in<int> never_written;
qrn::internal::stream<int> ring_a;
qrn::internal::stream<int> ring_b;
std::atomic<bool> reader_ready{false};
std::atomic<bool> main_going{false};  // set once main has seen the reader ready
long delay_ns = 0;
long main_lead_ns = 0;  // main returns this long after it let the reader go

void spin_for(long nanoseconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::nanoseconds(nanoseconds);
  while (std::chrono::steady_clock::now() < until) {
  }
}

void fatal_reader() {
  reader_ready = true;
  while (!main_going) {
  }
  spin_for(delay_ns);
  (void)never_written.read(false);
}

void cycler() {
  bool success = false;
  const int a = ring_a.tryRead(success);
  if (success) ring_b.write(a + 1);
  const int b = ring_b.tryRead(success);
  if (success) ring_a.write(b - 1);
}

void throws_runtime_error() { throw std::runtime_error("boom"); }
void throws_int() { throw 42; }

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  delay_ns = argc > 2 ? std::atol(argv[2]) : 0;
  main_lead_ns = argc > 3 ? std::atol(argv[3]) : 0;
  std::cout << "cout line\n";
  std::printf("printf line\n");
  if (mode == "runtime-error" || mode == "int") {
    if (mode == "int") {
      qrn::launch_always_run<throws_int>();
    } else {
      qrn::launch_always_run<throws_runtime_error>();
    }
    (void)never_written.read(true);
    return 0;
  }
  if (mode == "two-endings") {
    // Fully buffered, larger than the pipe: exit blocks flushing it until
    // the reader starts reading.
    FILE* slow = popen("sleep 0.1; cat >/dev/null", "w");
    static std::vector<char> buffer(1 << 19);
    if (slow == nullptr || setvbuf(slow, buffer.data(), _IOFBF, buffer.size()) != 0) return 3;
    const std::string data(1 << 18, 'x');
    std::fputs(data.c_str(), slow);
    for (int i = 0; i < 8; ++i) ring_a.write(i);
    qrn::launch_always_run<cycler>();
  }
  qrn::launch_always_run<fatal_reader>();
  while (!reader_ready) {
  }
  main_going = true;
  spin_for(main_lead_ns);
  return 0;
}
