#include "settings.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "HLS/internal/idle_worker.h"
#include "HLS/internal/scheduler.h"
#include "HLS/internal/settings.h"
#include "fiber_scheduler.h"
#include "fiber_stack.h"
#include "seconds_setting.h"

namespace qrn_runtime {

namespace {

// The library's settings. A new setting is added here, or its users are
// told at start-up that it does not exist; its reader asks
// qrn::internal::setting_value (HLS/internal/settings.h). Both lists are
// constant-initialised: the check runs during static initialisation.
constexpr std::initializer_list<const char*> library_settings = {
    "QRN_DEPTH",      "QRN_DEPTH_DEFAULT", "QRN_DEPTH_OVERRIDE", "QRN_FIBER_STACK",
    "QRN_HANG_AFTER", "QRN_ON_HANG",       "QRN_PARK_LIMIT_US",  "QRN_REPORT",
    "QRN_SCHEDULE",   "QRN_SCHEDULE_SEED", "QRN_SETTLE_LIMIT",   "QRN_STREAM_LIMIT",
    "QRN_STRICT",     "QRN_TIME",          "QRN_TIME_GRAPH",     "QRN_TIME_PATH_EVENTS",
    "QRN_TRACE",      "QRN_TRACE_LIMIT",
};

// Read by the project's scripts and test programs (tests/run_all.sh,
// tests/consumer/check_consumer.sh, sys_launch_always_run/run.sh, the stream
// model test), which pass them on to every program they start.
constexpr std::initializer_list<const char*> project_tool_settings = {
    "QRN_CHECK_DIR",        "QRN_CXX",       "QRN_CXXFLAGS",           "QRN_GENERATOR",
    "QRN_SAMPLE_BUILD_DIR", "QRN_TEST_JOBS", "QRN_STREAM_MODEL_BYTES", "QRN_STREAM_MODEL_SEEDS",
};

bool listed(std::initializer_list<const char*> names, const std::string& name) {
  for (const char* known : names) {
    if (name == known) {
      return true;
    }
  }
  return false;
}

}  // namespace

void warn_about_unknown_settings() {
  std::string known;
  for (const char* name : library_settings) {
    known += (known.empty() ? "" : ", ") + std::string(name);
  }
  for (const qrn::internal::default_option& option :
       qrn::internal::program_default_options().entries()) {
    if (option.malformed) {
      std::fprintf(stderr, "qrn: ignoring \"%s\" in qrn_default_options: expected NAME=VALUE\n",
                   option.name.c_str());
      qrn::internal::note_bad_setting();
    } else if (!listed(library_settings, option.name)) {
      std::fprintf(stderr, "qrn: unknown setting %s (from qrn_default_options); known: %s\n",
                   option.name.c_str(), known.c_str());
      qrn::internal::note_bad_setting();
    }
  }
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const char* text = *entry;
    const char* equals = std::strchr(text, '=');
    if (std::strncmp(text, "QRN_", 4) != 0 || equals == nullptr) {
      continue;
    }
    const std::string name(text, equals);
    if (!listed(library_settings, name) && !listed(project_tool_settings, name)) {
      std::fprintf(stderr, "qrn: unknown setting %s; known: %s\n", name.c_str(), known.c_str());
      qrn::internal::note_bad_setting();
    }
  }
}

void check_settings_at_start() {
  const bool strict = qrn::internal::strict_settings();
  const qrn::internal::setting seed = qrn::internal::setting_value("QRN_SCHEDULE_SEED");
  if (seed && !qrn::internal::fiber_scheduling()) {
    std::fprintf(stderr,
                 "qrn: QRN_SCHEDULE_SEED=%s%s has no effect without QRN_SCHEDULE=fibers: threads "
                 "interleave as the system runs them\n",
                 seed.value, seed.note());
    qrn::internal::note_bad_setting();
  }
  if (!strict) {
    return;
  }
  // The settings that are otherwise read at first use.
  (void)qrn::internal::fiber_scheduling();
  (void)qrn::internal::park_limit();
  (void)fiber_stack_size();
  std::uint64_t unused_seed = 0;
  (void)read_schedule_seed(unused_seed);
  (void)settle_limit();
  const unsigned bad = qrn::internal::bad_setting_count().load();
  if (bad > 0) {
    std::fprintf(stderr,
                 "qrn: QRN_STRICT=1: ending the run before it starts, with status 2: %u bad or "
                 "unknown setting%s above\n",
                 bad, bad == 1 ? "" : "s");
    std::fflush(stderr);
    std::_Exit(2);
  }
  qrn::internal::strict_run_started().store(true, std::memory_order_release);
}

bool is_word(const std::string& value, const char* word) {
  if (value.size() != std::strlen(word)) {
    return false;
  }
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(value[i])) != word[i]) {
      return false;
    }
  }
  return true;
}

bool parse_byte_count(const char* text, unsigned long long& bytes) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long count = std::strtoull(text, &end, 10);
  if (end == text || errno != 0 || text[0] == '-') {
    return false;
  }
  const char* const suffixes = "kmg";  // 2^10, 2^20, 2^30
  unsigned shift = 0;
  if (*end != '\0') {
    const char* suffix = std::strchr(suffixes, std::tolower(static_cast<unsigned char>(*end)));
    if (suffix == nullptr || end[1] != '\0') {
      return false;
    }
    shift = 10 * static_cast<unsigned>(suffix - suffixes + 1);
  }
  if (count > (~0ULL >> shift)) {
    return false;
  }
  bytes = count << shift;
  return true;
}

std::string reason_path_is_unwritable(const std::string& path) {
  const bool existed = ::access(path.c_str(), F_OK) == 0;
  std::FILE* file = std::fopen(path.c_str(), "a");  // "a": an existing file keeps its contents
  if (file == nullptr) {
    return std::strerror(errno);
  }
  std::fclose(file);
  if (!existed) {
    std::remove(path.c_str());
  }
  return {};
}

}  // namespace qrn_runtime
