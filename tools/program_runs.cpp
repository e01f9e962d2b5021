#include "program_runs.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
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
  int out_fd = -1;      // read end of the child's standard output
  std::size_t run = 0;  // index into the runs
  std::string out;
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
// calls async-signal-safe functions until exec.
child spawn(const std::vector<char*>& argv, const std::vector<std::string>& environment,
            int null_fd, std::size_t run) {
  const std::vector<char*> envp = exec_array(environment);
  std::array<int, 2> fds{};
  if (::pipe2(fds.data(), O_CLOEXEC) != 0) {
    fail("cannot make a pipe");
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    const int error = errno;
    ::close(fds[0]);
    ::close(fds[1]);
    errno = error;
    fail("cannot fork");
  }
  if (pid == 0) {
    ::dup2(null_fd, STDIN_FILENO);
    ::dup2(null_fd, STDERR_FILENO);
    ::dup2(fds[1], STDOUT_FILENO);
    ::execvpe(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  child made;
  made.pid = pid;
  made.out_fd = fds[0];
  made.run = run;
  return made;
}

// Reads what `c` has written; true once its output has ended.
bool drain(child& c) {
  std::array<char, 4096> buffer{};
  const ssize_t got = ::read(c.out_fd, buffer.data(), buffer.size());
  if (got > 0) {
    c.out.append(buffer.data(), static_cast<std::size_t>(got));
    return false;
  }
  return got == 0 || errno != EINTR;
}

run_result finish(child& c) {
  ::close(c.out_fd);
  int status = 0;
  while (::waitpid(c.pid, &status, 0) < 0 && errno == EINTR) {
  }
  run_result result;
  result.out = std::move(c.out);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace

std::vector<run_result> run_programs(const std::vector<std::string>& argv,
                                     const std::vector<env_changes>& runs, std::size_t parallel) {
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
        running.push_back(spawn(args, environment_with(base, runs[next]), null_fd.fd, next));
      }
      std::vector<pollfd> fds;
      fds.reserve(running.size());
      for (const child& c : running) {
        fds.push_back({c.out_fd, POLLIN, 0});
      }
      if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
        fail("poll");
      }
      for (std::size_t i = running.size(); i-- > 0;) {
        if (fds[i].revents != 0 && drain(running[i])) {
          results[running[i].run] = finish(running[i]);
          running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
        }
      }
    }
  } catch (...) {
    for (child& c : running) {
      finish(c);
    }
    throw;
  }
  return results;
}

std::size_t processors() {
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<std::size_t>(online) : 1;
}

}  // namespace qrn_tools
