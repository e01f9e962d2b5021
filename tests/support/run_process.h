// Runs a program as a child process, for tests that check a whole process:
// its standard output, standard error and exit status.
#ifndef QRN_TESTS_SUPPORT_RUN_PROCESS_H
#define QRN_TESTS_SUPPORT_RUN_PROCESS_H

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace qrn_test {

struct process_result {
  std::string out;         // everything written to standard output
  std::string err;         // everything written to standard error
  int exit_status = -1;    // exit status when it exited, else -1
  int term_signal = 0;     // signal that ended it, else 0
  bool timed_out = false;  // killed after the time limit
};

// Runs `argv` (argv[0] is the program's path) with no standard input and
// waits at most `limit` for it to end; a child still running then is killed.
// The child gets this process's environment with the "NAME=VALUE" entries of
// `env` added, each replacing a variable of the same name.
process_result run_process(const std::vector<std::string>& argv,
                           std::chrono::milliseconds limit = std::chrono::seconds(30),
                           const std::vector<std::string>& env = {});

// The lines of `text`, without their line ends.
std::vector<std::string> lines_of(const std::string& text);

// How many times `part` occurs in `text`, overlaps included.
std::size_t count(const std::string& text, const std::string& part);

}  // namespace qrn_test

#endif  // QRN_TESTS_SUPPORT_RUN_PROCESS_H
