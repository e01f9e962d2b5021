// Text as a JSON string.
#ifndef QRN_TOOLS_JSON_STRING_H
#define QRN_TOOLS_JSON_STRING_H

#include <string>

namespace qrn_tools {

// `text` as a JSON string, quotes included: quotes, backslashes and control
// characters escaped, UTF-8 sequences kept, and each byte that does not
// belong to a valid UTF-8 sequence replaced by U+FFFD, so that the result is
// always valid JSON.
std::string json_string(const std::string& text);

}  // namespace qrn_tools

#endif  // QRN_TOOLS_JSON_STRING_H
