#include "program_runs.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace qrn_tools {
namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

// Closes a descriptor when it goes out of scope.
struct owned_fd {
  int fd;
  ~owned_fd() { ::close(fd); }
};

struct child {
  pid_t pid = -1;
  int out_fd = -1;      // read end of the child's standard output; -1 once it ended
  int err_fd = -1;      // read end of its standard error; -1 once it ended
  std::size_t run = 0;  // index into the runs
  std::chrono::steady_clock::time_point deadline;
  std::optional<std::chrono::steady_clock::time_point> ended;  // when its outputs ended
  run_result result;
};

// `base` ("NAME=VALUE" entries) with `changes` applied.
std::vector<std::string> environment_with(const std::vector<std::string>& base,
                                          const env_changes& changes) {
  std::vector<std::string> result;
  for (const std::string& entry : base) {
    const std::string name = entry.substr(0, entry.find('='));
    if (std::none_of(changes.begin(), changes.end(),
                     [&](const env_change& change) { return change.name == name; })) {
      result.push_back(entry);
    }
  }
  for (const env_change& change : changes) {
    if (change.value) {
      result.push_back(change.name + "=" + *change.value);
    }
  }
  return result;
}

// The null-terminated array of pointers that exec takes; valid while `words` is.
std::vector<char*> exec_array(const std::vector<std::string>& words) {
  std::vector<char*> result;
  result.reserve(words.size() + 1);
  for (const std::string& word : words) {
    result.push_back(const_cast<char*>(word.c_str()));
  }
  result.push_back(nullptr);
  return result;
}

// Everything the child needs is made before fork(), so that the child only
// calls async-signal-safe functions until exec. The child leads a process
// group of its own, so that a kill at the time limit reaches what it started.
child spawn(const std::vector<char*>& argv, const std::vector<std::string>& environment,
            int null_fd, std::size_t run, double time_limit) {
  const std::vector<char*> envp = exec_array(environment);
  std::array<int, 2> out{};
  std::array<int, 2> err{};
  if (::pipe2(out.data(), O_CLOEXEC) != 0) {
    fail("cannot make a pipe");
  }
  if (::pipe2(err.data(), O_CLOEXEC) != 0) {
    const int error = errno;
    ::close(out[0]);
    ::close(out[1]);
    errno = error;
    fail("cannot make a pipe");
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    const int error = errno;
    for (const int fd : {out[0], out[1], err[0], err[1]}) {
      ::close(fd);
    }
    errno = error;
    fail("cannot fork");
  }
  if (pid == 0) {
    ::setpgid(0, 0);
    ::dup2(null_fd, STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    ::execvpe(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::setpgid(pid, pid);  // also here: a kill may come before the child's own call
  ::close(out[1]);
  ::close(err[1]);
  child made;
  made.pid = pid;
  made.out_fd = out[0];
  made.err_fd = err[0];
  made.run = run;
  made.deadline = std::chrono::steady_clock::now() +
                  std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                      std::chrono::duration<double>(time_limit));
  return made;
}

// Reads what has come on `fd` into `into`, keeping at most `keep` bytes;
// closes `fd` and sets it to -1 once the output has ended.
void drain(int& fd, std::string& into, std::size_t keep) {
  std::array<char, 4096> buffer{};
  const ssize_t got = ::read(fd, buffer.data(), buffer.size());
  if (got > 0) {
    const auto count = static_cast<std::size_t>(got);
    into.append(buffer.data(), std::min(count, keep - std::min(keep, into.size())));
  } else if (got == 0 || errno != EINTR) {
    ::close(fd);
    fd = -1;
  }
}

void kill_group(pid_t pid) {
  if (::kill(-pid, SIGKILL) != 0) {
    ::kill(pid, SIGKILL);
  }
}

// The child's status once it has ended; none while it runs (with `wait`, it
// waits for the end).
std::optional<int> reap(const child& c, bool wait) {
  int status = 0;
  pid_t got = 0;
  do {
    got = ::waitpid(c.pid, &status, wait ? 0 : WNOHANG);
  } while (got < 0 && errno == EINTR);
  if (got == 0) {
    return std::nullopt;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void close_outputs(child& c) {
  for (int* fd : {&c.out_fd, &c.err_fd}) {
    if (*fd >= 0) {
      ::close(*fd);
      *fd = -1;
    }
  }
}

// Milliseconds until the first deadline of a child not yet killed, at least
// 1 (-1: none); a child whose outputs have ended but who runs on is polled
// again after as long as it has run on since, from 1 ms up to 20 ms (most end
// at once: their outputs close as they exit).
int poll_timeout(const std::vector<child>& running) {
  using std::chrono::milliseconds;
  const auto now = std::chrono::steady_clock::now();
  long long wait = -1;
  for (const child& c : running) {
    long long until = 20;
    if (c.ended) {
      until = std::min<long long>(until,
                                  std::chrono::duration_cast<milliseconds>(now - *c.ended).count());
    }
    if (c.out_fd >= 0 || c.err_fd >= 0) {
      until = c.result.timed_out
                  ? -1
                  : std::chrono::duration_cast<milliseconds>(c.deadline - now).count() + 1;
    }
    if (until >= 0) {
      until = std::max(until, 1LL);
      wait = wait < 0 ? until : std::min(wait, until);
    }
  }
  return wait < 0 ? -1 : static_cast<int>(std::min(wait, 1000LL * 60 * 60));
}

}  // namespace

std::vector<run_result> run_programs(const std::vector<std::string>& argv,
                                     const std::vector<env_changes>& runs, std::size_t parallel,
                                     double time_limit) {
  std::vector<std::string> base;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    base.emplace_back(*entry);
  }
  const std::vector<char*> args = exec_array(argv);
  const owned_fd null_fd{::open("/dev/null", O_RDWR | O_CLOEXEC)};
  if (null_fd.fd < 0) {
    fail("cannot open /dev/null");
  }
  parallel = std::max<std::size_t>(parallel, 1);
  std::vector<run_result> results(runs.size());
  std::vector<child> running;
  try {
    std::size_t next = 0;
    while (next < runs.size() || !running.empty()) {
      for (; next < runs.size() && running.size() < parallel; ++next) {
        running.push_back(
            spawn(args, environment_with(base, runs[next]), null_fd.fd, next, time_limit));
      }
      std::vector<pollfd> fds;
      for (const child& c : running) {
        fds.push_back({c.out_fd, POLLIN, 0});  // poll skips a descriptor of -1
        fds.push_back({c.err_fd, POLLIN, 0});
      }
      if (::poll(fds.data(), fds.size(), poll_timeout(running)) < 0 && errno != EINTR) {
        fail("poll");
      }
      const auto now = std::chrono::steady_clock::now();
      for (std::size_t i = running.size(); i-- > 0;) {
        child& c = running[i];
        if (fds[2 * i].revents != 0) {
          drain(c.out_fd, c.result.out, std::string::npos);
        }
        if (fds[2 * i + 1].revents != 0) {
          drain(c.err_fd, c.result.err, stderr_kept);
        }
        if (!c.result.timed_out && now >= c.deadline) {
          kill_group(c.pid);
          c.result.timed_out = true;
        }
        if (c.out_fd < 0 && c.err_fd < 0) {
          if (const std::optional<int> status = reap(c, false)) {
            c.result.status = *status;
            results[c.run] = std::move(c.result);
            running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
          } else if (!c.ended) {
            c.ended = now;
          }
        }
      }
    }
  } catch (...) {
    for (child& c : running) {
      kill_group(c.pid);
      close_outputs(c);
      reap(c, true);
    }
    throw;
  }
  return results;
}

std::optional<double> parse_time_limit(const std::string& value) {
  if (value.empty() || value.find_first_not_of("0123456789.") != std::string::npos) {
    return std::nullopt;
  }
  char* end = nullptr;
  const double seconds = std::strtod(value.c_str(), &end);
  if (*end != '\0' || !(seconds > 0) || seconds > 365.0 * 24 * 3600) {
    return std::nullopt;
  }
  return seconds;
}

std::string bad_time_limit(const std::string& value) {
  return "bad --time-limit " + value + ": expected seconds, a number above 0 (such as 30 or 2.5)";
}

std::string failure_with_report(const run_result& run, double time_limit,
                                const std::string& context, std::size_t lines) {
  std::string result = "exited with status " + std::to_string(run.status);
  if (run.timed_out) {
    std::ostringstream limit;
    limit << time_limit;
    result = "ran past the time limit of " + limit.str() + " s (--time-limit) and was killed";
  }
  std::istringstream in(run.err);
  std::string report;
  std::string line;
  for (std::size_t n = 0; n < lines && std::getline(in, line); ++n) {
    report += "\n  " + line;
  }
  return result + context + (report.empty() ? "" : "; its report begins:" + report);
}

std::size_t processors() {
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<std::size_t>(online) : 1;
}

}  // namespace qrn_tools
