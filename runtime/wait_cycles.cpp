#include "wait_cycles.h"

#include <algorithm>
#include <cstddef>

namespace qrn_runtime {

namespace {

constexpr std::size_t none = static_cast<std::size_t>(-1);

// `component ping` -> `ping`; `the test bench` stays.
std::string short_name(const std::string& who) {
  const std::string prefix = "component ";
  return who.compare(0, prefix.size(), prefix) == 0 ? who.substr(prefix.size()) : who;
}

// The index in `waiting` of the one thread that thread `i` waits for, or none.
std::size_t waited_for(const std::vector<waiting_thread>& waiting, std::size_t i,
                       const std::map<std::string, const qrn::stream_report*>& streams) {
  const auto stream = streams.find(waiting[i].stream);
  if (stream == streams.end()) {
    return none;
  }
  const std::vector<std::string>& other_end =
      waiting[i].writing ? stream->second->readers : stream->second->writers;
  if (other_end.size() != 1) {
    return none;
  }
  for (std::size_t j = 0; j < waiting.size(); ++j) {
    if (waiting[j].who == other_end.front()) {
      return j;
    }
  }
  return none;
}

}  // namespace

std::vector<wait_cycle> wait_cycles(
    const std::vector<waiting_thread>& waiting,
    const std::map<std::string, const qrn::stream_report*>& streams) {
  std::vector<std::size_t> next(waiting.size());
  for (std::size_t i = 0; i < waiting.size(); ++i) {
    next[i] = waited_for(waiting, i, streams);
  }
  std::vector<wait_cycle> cycles;
  for (std::size_t start = 0; start < waiting.size(); ++start) {
    // Follows the waits from `start`. A cycle is printed once, from its
    // first writer held by a full stream, else from its first thread.
    std::size_t at = next[start];
    std::size_t first = start;
    std::size_t first_writer = waiting[start].writing ? start : none;
    for (std::size_t steps = 0; at != none && at != start && steps < waiting.size(); ++steps) {
      first = std::min(first, at);
      if (waiting[at].writing) {
        first_writer = std::min(first_writer, at);
      }
      at = next[at];
    }
    if (at != start || start != (first_writer != none ? first_writer : first)) {
      continue;
    }
    wait_cycle cycle{short_name(waiting[start].who), {}};
    at = start;
    do {
      cycle.text += " -> " + waiting[at].stream + " -> " + short_name(waiting[next[at]].who);
      cycle.threads.push_back(at);
      at = next[at];
    } while (at != start);
    cycles.push_back(cycle);
  }
  return cycles;
}

}  // namespace qrn_runtime
