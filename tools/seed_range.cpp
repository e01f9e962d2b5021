#include "seed_range.h"

#include <cerrno>
#include <cstdlib>

namespace qrn_tools {
namespace {

// A seed: a whole number >= 1, digits only.
std::optional<std::uint64_t> parse_seed(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  errno = 0;
  const std::uint64_t seed = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0 || seed < 1) {
    return std::nullopt;
  }
  return seed;
}

}  // namespace

std::vector<std::uint64_t> seed_range::seeds() const {
  std::vector<std::uint64_t> result;
  for (std::uint64_t seed = first;; ++seed) {  // stops at last, which may be the largest value
    result.push_back(seed);
    if (seed == last) {
      return result;
    }
  }
}

std::optional<seed_range> parse_seed_range(const std::string& option, const std::string& value) {
  if (option == "-n") {
    const std::optional<std::uint64_t> count = parse_seed(value);
    return count ? std::optional<seed_range>(seed_range{1, *count}) : std::nullopt;
  }
  const std::size_t dash = value.find('-');
  if (dash == std::string::npos) {
    return std::nullopt;
  }
  const std::optional<std::uint64_t> first = parse_seed(value.substr(0, dash));
  const std::optional<std::uint64_t> last = parse_seed(value.substr(dash + 1));
  if (!first || !last || *first > *last) {
    return std::nullopt;
  }
  return seed_range{*first, *last};
}

std::string bad_seed_range(const std::string& option, const std::string& value) {
  return "bad " + option + " " + value +
         (option == "-n" ? ": expected a whole number M >= 1"
                         : ": expected A-B, whole numbers with 1 <= A <= B");
}

}  // namespace qrn_tools
