#include "depth_risks.h"

#include <map>
#include <string>
#include <utility>

namespace qrn_runtime {
namespace {

constexpr const char* bench = "the test bench";

// One stream between two components.
struct link {
  std::size_t stream;
  std::size_t from;
  std::size_t to;
};

// Whether `to` can be reached from `from` over `links`, leaving out the link
// at index `skipped`.
bool reaches(const std::vector<link>& links, std::size_t nodes, std::size_t from, std::size_t to,
             std::size_t skipped) {
  std::vector<bool> seen(nodes, false);
  std::vector<std::size_t> pending{from};
  seen[from] = true;
  while (!pending.empty()) {
    const std::size_t at = pending.back();
    pending.pop_back();
    if (at == to) {
      return true;
    }
    for (std::size_t i = 0; i < links.size(); ++i) {
      if (i != skipped && links[i].from == at && !seen[links[i].to]) {
        seen[links[i].to] = true;
        pending.push_back(links[i].to);
      }
    }
  }
  return false;
}

}  // namespace

std::vector<std::size_t> streams_a_small_depth_can_deadlock(const qrn::run_report& report) {
  std::map<std::string, std::size_t> nodes;
  const auto node = [&nodes](const std::string& user) {
    return nodes.emplace(user, nodes.size()).first->second;
  };
  std::vector<link> links;
  for (std::size_t s = 0; s < report.streams.size(); ++s) {
    for (const std::string& writer : report.streams[s].writers) {
      for (const std::string& reader : report.streams[s].readers) {
        if (writer != bench && reader != bench) {
          const std::size_t from = node(writer);
          links.push_back({s, from, node(reader)});
        }
      }
    }
  }
  std::vector<std::size_t> result;
  for (std::size_t i = 0; i < links.size(); ++i) {
    const link& l = links[i];
    const bool at_risk = l.from == l.to || reaches(links, nodes.size(), l.to, l.from, i) ||
                         reaches(links, nodes.size(), l.from, l.to, i);
    if (at_risk && (result.empty() || result.back() != l.stream)) {
      result.push_back(l.stream);
    }
  }
  return result;
}

}  // namespace qrn_runtime
