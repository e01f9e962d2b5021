// Test bench for bounded stream depths; the first argument picks the scenario
// and the QRN_DEPTH* settings of the test pick the depths.
//   cycle  two components that each write a burst to the other before reading
//          the other's: bursts of two, then of three, which deadlock at depth
//          2. The bench lets them settle (run-all) before it lets them read,
//          so each stream's peak is its burst.
//   chain  a chain of two components whose second one starts reading only
//          after run-all, so that every stream peaks at 8 elements: past the
//          inner stream's depth of 2 in an unbounded run, yet no depth can
//          deadlock a chain
//   try    tryWrite on a stream with room and on a full one, plain and with
//          sideband, through the base and through an interface
//   byptr  a by-pointer write to a full stream, which waits for the reader
//   local  a component held by a full stream that is a local of the bench,
//          destroyed while the component waits to write to it
//   wakes  rounds in which every wake-up for room reaches a writer: four
//          components asleep on a full stream of depth 4 that four reads in
//          a row empty
//   held   a component held by a full stream while the bench sleeps: its
//          time asleep counts that wait
#include <chrono>
#include <iostream>
#include <string>
#include <thread>

#include "HLS/hls.h"
#include "HLS/runtime.h"
#include "HLS/task.h"

namespace {

qrn::stream_in<int> go_ping;
qrn::stream_in<int> go_pong;
qrn::internal::stream<int> ping_to_pong;
qrn::internal::stream<int> pong_to_ping;
qrn::stream_out<int> ping_sums;
qrn::stream_out<int> pong_sums;

constexpr int burst = 3;

// Sends a burst to the other side, then, told to go on, sums the other
// side's burst.
void exchange(qrn::stream_in<int>& go, qrn::internal::stream<int>& to,
              qrn::internal::stream<int>& from, qrn::stream_out<int>& sums) {
  const int first = go.read();
  const int length = go.read();
  for (int i = 0; i < length; ++i) {
    to.write(first + i);
  }
  (void)go.read();
  int sum = 0;
  for (int i = 0; i < length; ++i) {
    sum += from.read();
  }
  sums.write(sum);
}

void ping() { exchange(go_ping, ping_to_pong, pong_to_ping, ping_sums); }
void pong() { exchange(go_pong, pong_to_ping, ping_to_pong, pong_sums); }

void run_cycle() {
  qrn::launch_always_run<ping>();
  qrn::launch_always_run<pong>();
  for (int round = 1; round <= 2; ++round) {
    go_ping.write(100 * round);
    go_ping.write(round + 1);
    go_pong.write(10 * round);
    go_pong.write(round + 1);
    // Returns once both components are quiet: their bursts written, or held
    // by full streams.
    __qrn_hls_component_run_all(ping);
    go_ping.write(0);
    go_pong.write(0);
    std::cout << "round " << round << ": ping got " << ping_sums.read() << ", pong got "
              << pong_sums.read() << '\n';
  }
}

qrn::stream_in<int> samples;
qrn::stream<int, qrn::buffer<2>> scaled;
qrn::stream_in<int> go_sum;
qrn::stream_out<int> total;

constexpr int samples_in_chain = 8;

void scaler() { scaled.write(2 * samples.read()); }

void summer() {
  (void)go_sum.read();
  int sum = 0;
  for (int i = 0; i < samples_in_chain; ++i) {
    sum += scaled.read();
  }
  total.write(sum);
}

void run_chain() {
  qrn::launch_always_run<scaler>();
  qrn::launch_always_run<summer>();
  for (int i = 1; i <= samples_in_chain; ++i) {
    samples.write(i);
  }
  __qrn_hls_component_run_all(scaler);
  go_sum.write(0);
  std::cout << "total " << total.read() << '\n';
}

qrn::internal::stream<int> slots;
qrn::stream_out<int> packets;

void run_try() {
  std::cout << "slots:";
  for (int i = 1; i <= 3; ++i) {
    std::cout << ' ' << slots.tryWrite(i);
  }
  std::cout << " read " << slots.read() << " then " << slots.tryWrite(4, true, false) << '\n';
  std::cout << "packets:";
  for (int i = 1; i <= 3; ++i) {
    std::cout << ' ' << packets.tryWrite(i, false, i == 3, 0);
  }
  std::cout << '\n';
  bool ok = false;
  std::cout << "left:";
  for (int v = slots.tryRead(ok); ok; v = slots.tryRead(ok)) {
    std::cout << ' ' << v;
  }
  for (int v = packets.tryRead(ok); ok; v = packets.tryRead(ok)) {
    std::cout << ' ' << v;
  }
  std::cout << '\n';
}

qrn::internal::stream<int> lane;
qrn::stream_out<int> drained;

// Reads the lane only once the test bench sleeps until it has room.
void drainer() {
  while (qrn::internal::activity().bench_waiting_to_write.load() == nullptr) {
    std::this_thread::yield();
  }
  int sum = 0;
  for (int i = 0; i < burst; ++i) {
    sum += lane.read();
  }
  drained.write(sum);
}

void run_byptr() {
  lane.write(1);
  lane.write(2);
  qrn::launch_always_run<drainer>();
  int third = 3;
  lane.write_by_ptr(&third);
  std::cout << "drained " << drained.read() << '\n';
}

qrn::stream_out<int, qrn::buffer<1>>* local_lane = nullptr;

void filler() { local_lane->write(1); }

void run_local() {
  {
    qrn::stream_out<int, qrn::buffer<1>> lane_of_main;
    local_lane = &lane_of_main;
    qrn::launch_always_run<filler>();
    __qrn_hls_component_run_all(filler);  // returns once filler waits for room
  }
  std::cout << "destroyed while its writer waited\n";
}

constexpr int rounds = 100;
constexpr int refills = 4;

qrn::stream_out<int, qrn::buffer<refills>> crowded;
qrn::stream_in<int> feeds[refills];

template <int i>
void refill() {
  crowded.write(feeds[i].read());
}

// Every refill waits for room in the full stream; the bench then makes room
// for all of them with reads in a row. True when all of them got in.
bool round_of_refills() {
  for (int i = 0; i < refills; ++i) {
    crowded.write(0);
  }
  for (int i = 0; i < refills; ++i) {
    feeds[i].write(i + 1);
  }
  __qrn_hls_component_run_all(refill<0>);  // every refill asleep, waiting for room
  for (int i = 0; i < refills; ++i) {
    (void)crowded.read();
  }
  __qrn_hls_component_run_all(refill<0>);
  int sum = 0;
  bool ok = true;
  for (int i = 0; i < refills && ok; ++i) {
    sum += crowded.tryRead(ok);
  }
  return ok && sum == refills * (refills + 1) / 2;
}

void run_wakes() {
  qrn::launch_always_run<refill<0>>();
  qrn::launch_always_run<refill<1>>();
  qrn::launch_always_run<refill<2>>();
  qrn::launch_always_run<refill<3>>();
  int all_in = 0;
  for (int round = 0; round < rounds; ++round) {
    all_in += round_of_refills() ? 1 : 0;
  }
  std::cout << "all refills got in: " << all_in << " of " << rounds << " rounds\n";
}

}  // namespace

qrn::stream<int, qrn::buffer<2>> held_lane;

void holder() {
  for (int i = 1; i <= 4; ++i) {
    held_lane.write(i);
  }
}

// The first read lets the holder fill the lane and wait for room again,
// which it does through the bench's sleep.
void run_held() {
  qrn::launch_task<holder>();
  int sum = held_lane.read();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (int i = 2; i <= 4; ++i) {
    sum += held_lane.read();
  }
  std::cout << "held " << sum << '\n';
}

int main(int argc, char** argv) {
  const std::string scenario = argc > 1 ? argv[1] : "";
  if (scenario == "cycle") {
    run_cycle();
  } else if (scenario == "chain") {
    run_chain();
  } else if (scenario == "try") {
    run_try();
  } else if (scenario == "byptr") {
    run_byptr();
  } else if (scenario == "local") {
    run_local();
  } else if (scenario == "wakes") {
    run_wakes();
  } else if (scenario == "held") {
    run_held();
  } else {
    std::cerr << "usage: depth_run cycle|chain|try|byptr|local|wakes|held\n";
    return 2;
  }
  return 0;
}
