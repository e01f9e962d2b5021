#include "stream_teardown.h"

#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "run_snapshot.h"

namespace qrn_runtime {

namespace {

// "component a, component b"
std::string components(const std::vector<qrn::internal::always_run_record*>& records) {
  std::string text;
  for (const qrn::internal::always_run_record* record : records) {
    text += (text.empty() ? "component " : ", component ") + component_name(*record);
  }
  return text;
}

}  // namespace

void describe_destroyed_while_waited(qrn::internal::stream_info& stream,
                                     const qrn::internal::stopped_users& users) {
  std::string name;
  {
    std::lock_guard<std::mutex> lock(qrn::internal::stream_registry().mutex);
    name = stream_name(stream);
  }
  std::string waiting = components(users.waiting);
  if (users.other_thread_waiting) {
    waiting += waiting.empty() ? "a test bench thread" : " and a test bench thread";
  }
  std::string line = "qrn: stream " + name + " (" + qrn::internal::demangled(stream.type().name()) +
                     ") was destroyed";
  if (users.lost != 0) {
    line += " holding " + std::to_string(users.lost) + " element(s)";
  }
  line += " while " + waiting + " still waited on it";
  if (!users.stopped.empty()) {
    line += "; stopped for good, as they used it: " + components(users.stopped);
  }
  std::cerr << line + "\n" << std::flush;
}

}  // namespace qrn_runtime
