// Runs a program to its end and reports how long that took and its peak
// memory, for the scenarios that need a process of their own.
#ifndef QRN_BENCH_CHILD_PROCESS_H
#define QRN_BENCH_CHILD_PROCESS_H

#include <string>
#include <vector>

namespace qrn_bench {

struct child_result {
  int exit_status = -1;     // exit status, or -1 when it did not exit normally
  std::string out;          // everything it wrote to standard output
  double wall_seconds = 0;  // from just before the spawn to just after the wait
  // Peak resident set size in KB (rusage.ru_maxrss from wait4). The child
  // starts in this process's address space until its exec, so this is never
  // below what this process had resident at the spawn.
  long peak_rss_kb = 0;
};

// Runs `argv` (argv[0] is the program's path) with standard input closed and
// standard error shared with the caller, and waits for it to end. The child
// gets this process's environment with the "NAME=VALUE" entries of `env`
// added, each replacing a variable of the same name.
child_result run_child(const std::vector<std::string>& argv,
                       const std::vector<std::string>& env = {});

// Path of the running executable.
std::string own_executable();

}  // namespace qrn_bench

#endif  // QRN_BENCH_CHILD_PROCESS_H
