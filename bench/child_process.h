// Runs a program to its end and reports how long that took, for the
// scenarios that need a process of their own.
#ifndef QRN_BENCH_CHILD_PROCESS_H
#define QRN_BENCH_CHILD_PROCESS_H

#include <string>
#include <vector>

namespace qrn_bench {

struct child_result {
  int exit_status = -1;     // exit status, or -1 when it did not exit normally
  std::string out;          // everything it wrote to standard output
  double wall_seconds = 0;  // from just before the spawn to just after the wait
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
