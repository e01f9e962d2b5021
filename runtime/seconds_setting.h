// A time limit that the user sets, without rebuilding, through a setting
// (see HLS/internal/settings.h): a non-negative number of seconds, `0` for no
// limit.
#ifndef QRN_RUNTIME_SECONDS_SETTING_H
#define QRN_RUNTIME_SECONDS_SETTING_H

#include <chrono>
#include <string>

namespace qrn_runtime {

class seconds_setting {
 public:
  // Reads the setting `variable`; when it is unset, or set to something other than a
  // non-negative number of seconds, the limit is `default_seconds`, and a bad
  // value gets one line on standard error, which tells what 0 means
  // (`meaning_of_zero`, e.g. "0 for no limit").
  seconds_setting(const char* variable, double default_seconds,
                  const char* meaning_of_zero = "0 for no limit");

  // True once `elapsed` has reached the limit; never when there is none.
  bool reached(std::chrono::steady_clock::duration elapsed) const;

  // The limit in seconds; 0 for none.
  double seconds() const { return seconds_; }

  // The limit as the user would write it ("60", "0.5").
  const std::string& text() const { return text_; }

 private:
  double seconds_;
  std::string text_;
};

// QRN_SETTLE_LIMIT: how long run-all waits for components that keep moving
// elements (60 s by default). Read on the first call; thread-safe.
const seconds_setting& settle_limit();

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_SECONDS_SETTING_H
