// A range of schedule seeds (QRN_SCHEDULE_SEED values) given on a tool's
// command line: "--seeds A-B", or "-n M" for 1 to M.
#ifndef QRN_TOOLS_SEED_RANGE_H
#define QRN_TOOLS_SEED_RANGE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qrn_tools {

// The seeds first to last; 1 <= first <= last.
struct seed_range {
  std::uint64_t first = 1;
  std::uint64_t last = 1;

  std::uint64_t count() const { return last - first + 1; }
  // Every seed of the range, in order.
  std::vector<std::uint64_t> seeds() const;
};

// The value of `option` ("--seeds": "A-B"; "-n": "M", meaning 1-M) as a
// range; none when it is not whole numbers (digits only) with 1 <= A <= B or
// 1 <= M.
std::optional<seed_range> parse_seed_range(const std::string& option, const std::string& value);

// The line, without the tool's name, that tells a bad `value` of `option`
// from what parse_seed_range expects: "bad --seeds 5-3: expected A-B, ...".
std::string bad_seed_range(const std::string& option, const std::string& value);

}  // namespace qrn_tools

#endif  // QRN_TOOLS_SEED_RANGE_H
