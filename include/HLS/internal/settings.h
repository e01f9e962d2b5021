// Where the value of a setting (a QRN_ variable that changes a run without
// rebuilding) comes from. Every reader of a setting, in these headers and in
// the emulation runtime, asks setting_value(NAME).
//
// A program may give its own defaults by defining, in any one source file,
//   extern "C" const char* qrn_default_options() {
//     return "QRN_DEPTH=declared QRN_SCHEDULE=fibers";
//   }
// NAME=VALUE entries separated by blanks. A variable in the environment
// overrides the entry of the same name; of two entries with one name the
// later counts. The text is parsed once per process, on the first lookup
// (thread-safe, possibly during static initialisation, so the function must
// not depend on other static objects); settings are read once each, at
// start-up or first use, never on a hot path. The emulation runtime checks
// the entries' names at start-up (see runtime/settings.cpp).
#ifndef QRN_HLS_INTERNAL_SETTINGS_H
#define QRN_HLS_INTERNAL_SETTINGS_H

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

// Defined by the program when it has defaults; null otherwise.
extern "C" __attribute__((weak)) const char* qrn_default_options();

namespace qrn {
namespace internal {

// One entry of qrn_default_options(). A malformed entry (no '=', or nothing
// before it) keeps its whole text in `name`.
struct default_option {
  std::string name;
  std::string value;
  bool malformed = false;
};

// The parsed entries of a program's defaults, in their order.
class default_options {
 public:
  explicit default_options(const char* text) {
    const char* blanks = " \t\n";
    for (const char* at = text != nullptr ? text : ""; *at != '\0';) {
      const std::size_t length = std::strcspn(at, blanks);
      if (length > 0) {
        const std::string entry(at, length);
        const std::size_t equals = entry.find('=');
        default_option option;
        option.malformed = equals == 0 || equals == std::string::npos;
        option.name = option.malformed ? entry : entry.substr(0, equals);
        option.value = option.malformed ? std::string() : entry.substr(equals + 1);
        entries_.push_back(std::move(option));
      }
      at += length + std::strspn(at + length, blanks);
    }
  }

  const std::vector<default_option>& entries() const { return entries_; }

  // The last well-formed entry named `name`, or null.
  const default_option* find(const char* name) const {
    for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
      if (!entry->malformed && entry->name == name) {
        return &*entry;
      }
    }
    return nullptr;
  }

 private:
  std::vector<default_option> entries_;
};

// The program's defaults, parsed on the first call; never destroyed, since
// settings may be read while the process exits.
inline const default_options& program_default_options() {
  static const default_options* const parsed =
      new default_options(&qrn_default_options != nullptr ? qrn_default_options() : nullptr);
  return *parsed;
}

// A setting's value and where it came from.
struct setting {
  const char* name;
  const char* value;  // null: set neither in the environment nor in the defaults
  bool from_defaults;

  explicit operator bool() const { return value != nullptr; }

  // Follows NAME=VALUE in a message about the value; empty for a value from
  // the environment, whose messages stay as they were.
  const char* note() const { return from_defaults ? " (from qrn_default_options)" : ""; }

  // Names the setting in a message about what its value asked for:
  // "QRN_TRACE", or "QRN_TRACE from qrn_default_options".
  std::string source() const {
    return std::string(name) + (from_defaults ? " from qrn_default_options" : "");
  }
};

// `name`'s value: the environment's when it has the variable (even empty),
// else the defaults'.
inline setting setting_value(const char* name) {
  if (const char* value = std::getenv(name)) {
    return {name, value, false};
  }
  const default_option* option = program_default_options().find(name);
  return {name, option != nullptr ? option->value.c_str() : nullptr, option != nullptr};
}

// How many bad or unknown settings have had their line on standard error.
inline std::atomic<unsigned>& bad_setting_count() {
  static std::atomic<unsigned> count{0};  // constant-initialised
  return count;
}

// Set by the runtime once QRN_STRICT=1 has checked every setting at start-up.
inline std::atomic<bool>& strict_run_started() {
  static std::atomic<bool> started{false};  // constant-initialised
  return started;
}

// Called by a setting's reader right after the line about its bad value:
// counts it and, in a strict run that has started, ends the process with
// status 2 (the runtime's start-up check ends it before that). Thread-safe.
inline void note_bad_setting() {
  bad_setting_count().fetch_add(1, std::memory_order_relaxed);
  if (strict_run_started().load(std::memory_order_acquire)) {
    std::fprintf(stderr, "qrn: QRN_STRICT=1: ending the run with status 2\n");
    std::fflush(stderr);
    std::_Exit(2);
  }
}

// QRN_STRICT: 1 to end a run whose settings are bad or unknown before it
// starts, with status 2; 0 (the default) to go on with one line about each.
// Read once per process; a bad value gets one line and is 0.
inline bool strict_settings() {
  static const bool strict = [] {
    const setting value = setting_value("QRN_STRICT");
    if (!value || std::strcmp(value.value, "0") == 0) {
      return false;
    }
    if (std::strcmp(value.value, "1") != 0) {
      std::fprintf(stderr, "qrn: ignoring QRN_STRICT=%s%s: expected 1 or 0; not strict\n",
                   value.value, value.note());
      note_bad_setting();
      return false;
    }
    return true;
  }();
  return strict;
}

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_SETTINGS_H
