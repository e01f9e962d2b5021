// Runs one program many times as child processes, each run under its own
// changes to the environment and within a time limit, several at a time, and
// collects each run's standard output, the start of its standard error and
// its exit status.
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
  std::string out;         // everything the child wrote to standard output
  int status = 0;          // exit status; 128 + signal when a signal ended it;
                           // 127 when the program could not be started
  std::string err;         // the first stderr_kept bytes of its standard error
  bool timed_out = false;  // it ran past the time limit and was killed
};

// How much of a child's standard error run_programs keeps.
constexpr std::size_t stderr_kept = 16384;

// A run's time limit in seconds when the command line gives none.
constexpr double default_time_limit = 120;

// Runs `argv` (argv[0] is looked up on PATH when it has no '/') once for each
// element of `runs`, at most `parallel` (>= 1) children at a time, and returns
// the results in the order of `runs`. The children's standard input is
// /dev/null. A child still running `time_limit` seconds (> 0) after it
// started is killed with SIGKILL, with every process of its process group
// (each child leads one). Throws std::runtime_error
// when a pipe or a child cannot be made, after waiting for the children
// already started. Reads this process's environment once, before the first
// fork: other threads may run meanwhile, as long as none changes it.
std::vector<run_result> run_programs(const std::vector<std::string>& argv,
                                     const std::vector<env_changes>& runs, std::size_t parallel,
                                     double time_limit = default_time_limit);

// The value of --time-limit: seconds, a decimal number > 0 and at most a
// year; none when it is not one.
std::optional<double> parse_time_limit(const std::string& value);

// The line, without the tool's name, that rejects a bad --time-limit value.
std::string bad_time_limit(const std::string& value);

// How a failed run ended, then `context`, then the first `lines` lines of
// its standard error (its hang report, its error), each on a line of its own
// after two spaces: "exited with status S<context>; its report begins:\n
// LINE\n  LINE", or "ran past the time limit of T s (--time-limit) and was
// killed<context>; ..."; without a report, only the first line. No final
// newline.
std::string failure_with_report(const run_result& run, double time_limit,
                                const std::string& context, std::size_t lines);

// The number of processors online, at least 1: a default for `parallel`.
std::size_t processors();

}  // namespace qrn_tools

#endif  // QRN_TOOLS_PROGRAM_RUNS_H
