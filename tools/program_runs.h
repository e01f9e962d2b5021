// Runs one program many times as child processes, each run under its own
// changes to the environment, several at a time, and collects each run's
// standard output and exit status.
#ifndef QRN_TOOLS_PROGRAM_RUNS_H
#define QRN_TOOLS_PROGRAM_RUNS_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace qrn_tools {

// Sets the variable `name` to `value`, or removes it when `value` is empty.
struct env_change {
  std::string name;
  std::optional<std::string> value;
};

// One run: the changes to this process's environment that its child gets.
using env_changes = std::vector<env_change>;

struct run_result {
  std::string out;  // everything the child wrote to standard output
  int status = 0;   // exit status; 128 + signal when a signal ended it;
                    // 127 when the program could not be started
};

// Runs `argv` (argv[0] is looked up on PATH when it has no '/') once for each
// element of `runs`, at most `parallel` (>= 1) children at a time, and returns
// the results in the order of `runs`. The children's standard input is
// /dev/null and their standard error is discarded. Throws std::runtime_error
// when a pipe or a child cannot be made, after waiting for the children
// already started. Reads this process's environment once, before the first
// fork: other threads may run meanwhile, as long as none changes it.
std::vector<run_result> run_programs(const std::vector<std::string>& argv,
                                     const std::vector<env_changes>& runs, std::size_t parallel);

// The number of processors online, at least 1: a default for `parallel`.
std::size_t processors();

}  // namespace qrn_tools

#endif  // QRN_TOOLS_PROGRAM_RUNS_H
