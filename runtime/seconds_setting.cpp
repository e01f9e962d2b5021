#include "seconds_setting.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "HLS/internal/settings.h"

namespace qrn_runtime {

namespace {

std::string seconds_text(double seconds) {
  std::ostringstream text;
  text << seconds;
  return text.str();
}

// The number of seconds in `value`, or a negative number when it is none.
double parse_seconds(const char* value) {
  char* end = nullptr;
  const double seconds = std::strtod(value, &end);
  if (end == value || *end != '\0' || !std::isfinite(seconds) || seconds < 0) {
    return -1;
  }
  return seconds;
}

}  // namespace

seconds_setting::seconds_setting(const char* variable, double default_seconds,
                                 const char* meaning_of_zero)
    : seconds_(default_seconds) {
  if (const qrn::internal::setting value = qrn::internal::setting_value(variable)) {
    const double seconds = parse_seconds(value.value);
    if (seconds >= 0) {
      seconds_ = seconds;
    } else {
      std::fprintf(stderr, "qrn: ignoring %s=%s%s: expected a number of seconds (%s); using %s\n",
                   variable, value.value, value.note(), meaning_of_zero,
                   seconds_text(default_seconds).c_str());
      qrn::internal::note_bad_setting();
    }
  }
  text_ = seconds_text(seconds_);
}

bool seconds_setting::reached(std::chrono::steady_clock::duration elapsed) const {
  return seconds_ > 0 && std::chrono::duration<double>(elapsed).count() >= seconds_;
}

const seconds_setting& settle_limit() {
  static const seconds_setting limit("QRN_SETTLE_LIMIT", 60);
  return limit;
}

}  // namespace qrn_runtime
