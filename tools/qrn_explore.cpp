// qrn-explore -n M PROGRAM [ARGS...]
//
// Runs PROGRAM with QRN_SCHEDULE=fibers once in the fixed order and once
// under each of the seeds 1 to M (QRN_SCHEDULE_SEED; as many at a time as
// there are processors), and compares each seeded run's standard output and
// exit status with the unseeded run's. Prints that all M agree (exit 0), or
// the seeds that differ, the first difference and the command that replays
// one (exit 1). Usage errors and programs that cannot be run: exit 2.
// The children's standard error is discarded and their standard input is
// /dev/null.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct outcome {
  std::string out;
  int status = 0;  // exit status, or 128 + signal
};

struct child {
  pid_t pid = -1;
  int out_fd = -1;
  unsigned long seed = 0;  // 0: the unseeded run
  std::string out;
};

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "qrn-explore: %s\n", message.c_str());
  std::exit(2);
}

child spawn(char** argv, unsigned long seed) {
  int fds[2];
  if (::pipe(fds) != 0) {
    fail(std::string("cannot make a pipe: ") + std::strerror(errno));
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    fail(std::string("cannot fork: ") + std::strerror(errno));
  }
  if (pid == 0) {
    ::setenv("QRN_SCHEDULE", "fibers", 1);
    if (seed == 0) {
      ::unsetenv("QRN_SCHEDULE_SEED");
    } else {
      ::setenv("QRN_SCHEDULE_SEED", std::to_string(seed).c_str(), 1);
    }
    const int null_fd = ::open("/dev/null", O_RDWR);
    ::dup2(null_fd, STDIN_FILENO);
    ::dup2(null_fd, STDERR_FILENO);
    ::dup2(fds[1], STDOUT_FILENO);
    ::close(fds[0]);
    ::close(fds[1]);
    ::execvp(argv[0], argv);
    std::_Exit(127);
  }
  ::close(fds[1]);
  child made;
  made.pid = pid;
  made.out_fd = fds[0];
  made.seed = seed;
  return made;
}

// Reads what `c` has written; true once its output has ended.
bool drain(child& c) {
  char buffer[4096];
  const ssize_t got = ::read(c.out_fd, buffer, sizeof buffer);
  if (got > 0) {
    c.out.append(buffer, static_cast<std::size_t>(got));
    return false;
  }
  return got == 0 || errno != EINTR;
}

outcome finish(child& c) {
  ::close(c.out_fd);
  int status = 0;
  while (::waitpid(c.pid, &status, 0) < 0 && errno == EINTR) {
  }
  outcome result;
  result.out = std::move(c.out);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

// Runs the given seeds, `parallel` at a time; outcomes by seed.
std::map<unsigned long, outcome> run_all(char** argv, const std::vector<unsigned long>& seeds,
                                         std::size_t parallel) {
  std::map<unsigned long, outcome> outcomes;
  std::vector<child> running;
  std::size_t next = 0;
  while (next < seeds.size() || !running.empty()) {
    while (next < seeds.size() && running.size() < parallel) {
      running.push_back(spawn(argv, seeds[next++]));
    }
    std::vector<pollfd> fds;
    for (const child& c : running) {
      fds.push_back({c.out_fd, POLLIN, 0});
    }
    if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
      fail(std::string("poll: ") + std::strerror(errno));
    }
    for (std::size_t i = running.size(); i-- > 0;) {
      if (fds[i].revents != 0 && drain(running[i])) {
        outcomes[running[i].seed] = finish(running[i]);
        running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }
  return outcomes;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    result.push_back(line);
  }
  return result;
}

std::string first_difference(const outcome& base, const outcome& other) {
  const std::vector<std::string> a = lines(base.out);
  const std::vector<std::string> b = lines(other.out);
  for (std::size_t i = 0; i < a.size() || i < b.size(); ++i) {
    const std::string left = i < a.size() ? a[i] : "(no line)";
    const std::string right = i < b.size() ? b[i] : "(no line)";
    if (left != right) {
      return "line " + std::to_string(i + 1) + ": unseeded \"" + left + "\", seeded \"" + right +
             "\"";
    }
  }
  return "exit status: unseeded " + std::to_string(base.status) + ", seeded " +
         std::to_string(other.status);
}

std::string quoted(const char* word) {
  const std::string text(word);
  if (text.find_first_of(" \t'\"\\$`") == std::string::npos && !text.empty()) {
    return text;
  }
  std::string result = "'";
  for (const char c : text) {
    result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return result + "'";
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long seeds = 0;
  int first = 1;
  if (argc >= 4 && std::strcmp(argv[1], "-n") == 0) {
    char* end = nullptr;
    seeds = std::strtoul(argv[2], &end, 10);
    first = *end == '\0' && argv[2][0] != '-' ? 3 : 0;
  }
  if (seeds == 0 || first == 0) {
    std::fprintf(stderr, "usage: qrn-explore -n M PROGRAM [ARGS...]   (M >= 1)\n");
    return 2;
  }
  char** program = argv + first;
  const long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
  const std::size_t parallel = processors > 0 ? static_cast<std::size_t>(processors) : 1;

  std::vector<unsigned long> order{0};
  for (unsigned long seed = 1; seed <= seeds; ++seed) {
    order.push_back(seed);
  }
  const std::map<unsigned long, outcome> outcomes = run_all(program, order, parallel);
  const outcome& base = outcomes.at(0);
  if (base.status == 127) {
    fail(std::string("cannot run ") + program[0]);
  }
  std::vector<unsigned long> differing;
  for (const auto& run : outcomes) {
    if (run.first != 0 && (run.second.out != base.out || run.second.status != base.status)) {
      differing.push_back(run.first);
    }
  }
  if (differing.empty()) {
    std::printf(
        "qrn-explore: all %lu seeds agree with the fixed order (same output, exit status %d)\n",
        seeds, base.status);
    return 0;
  }
  std::string list;
  for (const unsigned long seed : differing) {
    list += (list.empty() ? "" : " ") + std::to_string(seed);
  }
  const unsigned long shown = differing.front();
  std::string replay = "QRN_SCHEDULE=fibers QRN_SCHEDULE_SEED=" + std::to_string(shown);
  for (char** word = program; *word != nullptr; ++word) {
    replay += " " + quoted(*word);
  }
  std::printf("qrn-explore: %zu of %lu seeds differ from the fixed order: %s\n", differing.size(),
              seeds, list.c_str());
  std::printf("qrn-explore: seed %lu, first difference: %s\n", shown,
              first_difference(base, outcomes.at(shown)).c_str());
  std::printf("qrn-explore: replay: %s\n", replay.c_str());
  return 1;
}
