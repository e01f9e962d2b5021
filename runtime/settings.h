// The settings that change a run without rebuilding (QRN_..., from the
// environment or the program's qrn_default_options): the one list of their
// names, the start-up check for names not in it, and the comparison of word
// values, which ignores case.
#ifndef QRN_RUNTIME_SETTINGS_H
#define QRN_RUNTIME_SETTINGS_H

#include <string>

namespace qrn_runtime {

// One line on standard error for every entry of qrn_default_options that is
// not NAME=VALUE or names no setting of the library, and for every QRN_
// variable in the environment that is neither a setting of the library nor
// one read by this project's own scripts and tests; an unknown name's line
// lists the library's settings. Called once, while the runtime is
// initialised, before other threads exist.
void warn_about_unknown_settings();

// After the settings read at start-up: one line for a QRN_SCHEDULE_SEED
// that cannot act (no fibers) and, under QRN_STRICT=1, reads every other
// setting now and ends the process with status 2 when any was bad or
// unknown; else marks the strict run started, so that a bad setting met
// later ends it too. Called once, while the runtime is initialised.
void check_settings_at_start();

// True when `value` is `word` (lower case) in any mix of cases.
bool is_word(const std::string& value, const char* word);

// Reads `text` as a count of bytes, in decimal with an optional K, M or G
// suffix (either case); false, leaving `bytes` alone, for anything else or a
// count that does not fit.
bool parse_byte_count(const char* text, unsigned long long& bytes);

// Empty when `path` can be opened for writing now; otherwise the reason
// (strerror). Leaves no file behind that was not there before.
std::string reason_path_is_unwritable(const std::string& path);

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_SETTINGS_H
