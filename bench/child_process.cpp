#include "child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <system_error>

extern char** environ;

namespace qrn_bench {

namespace {

[[noreturn]] void fail(const char* what, int error) {
  throw std::system_error(error, std::generic_category(), what);
}

}  // namespace

child_result run_child(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  std::vector<char*> args;
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  std::vector<char*> environment;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string name(*variable, std::strcspn(*variable, "="));
    const bool replaced = std::any_of(env.begin(), env.end(), [&name](const std::string& entry) {
      return entry.compare(0, name.size() + 1, name + "=") == 0;
    });
    if (!replaced) {
      environment.push_back(*variable);
    }
  }
  for (const std::string& variable : env) {
    environment.push_back(const_cast<char*>(variable.c_str()));
  }
  environment.push_back(nullptr);

  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) {
    fail("pipe", errno);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[1]);

  child_result result;
  const auto started = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawn_error =
      posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environment.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  if (spawn_error != 0) {
    close(pipe_fds[0]);
    fail("posix_spawn", spawn_error);
  }
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(pipe_fds[0], buffer, sizeof buffer);
    if (got > 0) {
      result.out.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  close(pipe_fds[0]);
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      fail("wait4", errno);
    }
  }
  result.wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.peak_rss_kb = usage.ru_maxrss;
  return result;
}

std::string own_executable() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length < 0) {
    fail("readlink /proc/self/exe", errno);
  }
  return std::string(path, static_cast<std::size_t>(length));
}

}  // namespace qrn_bench
