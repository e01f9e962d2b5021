// Text as a JSON string, for the run report and the trace files.
#ifndef QRN_RUNTIME_JSON_STRING_H
#define QRN_RUNTIME_JSON_STRING_H

#include <string>

namespace qrn_runtime {

// `text` as a quoted JSON string: quotes and backslashes escaped, every
// control character as \u00XX, well-formed UTF-8 sequences kept as they are.
// A byte that starts no UTF-8 sequence, and the longest well-formed
// beginning of a sequence cut short, each become U+FFFD (as the tools'
// nlohmann/json writes them), so that the result is always valid JSON.
std::string json_string(const std::string& text);

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_JSON_STRING_H
