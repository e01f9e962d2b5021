// A task that is instantiated but never launched: its worker thread exists,
// sleeps without using processor time, and the process ends cleanly.
//
// Prints whether it found the worker thread and whether the threads other
// than the main thread stayed idle during a 200 ms measurement window.
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "HLS/hls.h"
#include "HLS/task.h"

qrn::stream_in<int> in_stream;

void spins() {
  bool success = false;
  (void)in_stream.tryRead(success);
}

// Instantiates the task of `spins` (and with it its worker); never called.
void never_called() { qrn::launch_always_run<spins>(); }

std::vector<std::string> other_thread_ids() {
  std::vector<std::string> ids;
  const std::string self = std::to_string(getpid());
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir)) {
      const std::string id = entry->d_name;
      if (id != "." && id != ".." && id != self) {
        ids.push_back(id);
      }
    }
    closedir(dir);
  }
  return ids;
}

// User plus system time of thread `id`, in clock ticks.
long cpu_ticks(const std::string& id) {
  std::ifstream stat("/proc/self/task/" + id + "/stat");
  std::string line;
  std::getline(stat, line);
  // Fields after the parenthesised name: state is field 3, utime 14, stime 15.
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  long utime = 0;
  long stime = 0;
  for (int number = 3; fields >> field && number <= 15; ++number) {
    if (number == 14) utime = std::stol(field);
    if (number == 15) stime = std::stol(field);
  }
  return utime + stime;
}

int main() {
  const std::vector<std::string> threads = other_thread_ids();
  std::vector<long> before;
  for (const std::string& id : threads) {
    before.push_back(cpu_ticks(id));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // measurement window
  long busiest = 0;
  for (std::size_t i = 0; i < threads.size(); ++i) {
    const long used = cpu_ticks(threads[i]) - before[i];
    busiest = used > busiest ? used : busiest;
  }
  std::printf("worker thread found: %s\n", threads.empty() ? "no" : "yes");
  // A spinning thread would use about 20 ticks of 10 ms in the window; allow
  // two for scheduling noise.
  if (busiest <= 2) {
    std::printf("other threads idle\n");
  } else {
    std::printf("a thread used %ld ticks\n", busiest);
  }
  return 0;
}
