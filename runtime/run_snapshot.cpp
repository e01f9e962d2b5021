// snapshot_run() and the naming of streams, components and threads.
#include "run_snapshot.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <typeinfo>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "HLS/internal/diagnostic_hooks.h"
#include "declaration_names.h"
#include "steady_clock_ns.h"
#include "symbol_names.h"
#include "timed_graph.h"
#include "timed_report.h"
#include "timed_totals.h"

namespace qrn_runtime {

using qrn::internal::always_run_record;
using qrn::internal::stream_info;

namespace {

bool try_lock_briefly(std::mutex& mutex) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (mutex.try_lock()) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(10));
  }
  return false;
}

double seconds(std::uint64_t ns) { return static_cast<double>(ns) / 1e9; }

// Nanoseconds of a sleep in progress since `since_ns`, 0 when there is none.
std::uint64_t sleeping_ns(const stream_info* waiting_on, std::int64_t since_ns,
                          std::int64_t now_ns) {
  return waiting_on != nullptr && since_ns > 0 && since_ns < now_ns
             ? static_cast<std::uint64_t>(now_ns - since_ns)
             : 0;
}

// Time slept so far in blocking reads of `stream` by the test bench and the
// components, counting the sleeps in progress (those of other threads are
// counted once they end).
std::uint64_t ongoing_sleep_ns(const stream_info& stream, std::int64_t now_ns) {
  const qrn::internal::activity_state& activity = qrn::internal::activity();
  std::uint64_t ns = 0;
  if (activity.bench_waiting_on.load() == &stream) {
    ns += sleeping_ns(&stream, activity.bench_asleep_since_ns.load(), now_ns);
  }
  for (const always_run_record* record = activity.always_run_head.load(std::memory_order_acquire);
       record != nullptr; record = record->next) {
    if (record->waiting_on.load() == &stream) {
      ns += sleeping_ns(&stream, record->asleep_since_ns.load(), now_ns);
    }
  }
  return ns;
}

std::string user_name(const always_run_record* user) {
  return user == nullptr ? "the test bench" : "component " + component_name(*user);
}

void name_users(const qrn::internal::stream_users& users, qrn::stream_report& report) {
  if (users.reader_seen) {
    report.readers.push_back(user_name(users.reader));
  }
  for (const always_run_record* reader : users.extra_readers) {
    report.readers.push_back(user_name(reader));
  }
  if (users.writer_seen) {
    report.writers.push_back(user_name(users.writer));
  }
  for (const always_run_record* writer : users.extra_writers) {
    report.writers.push_back(user_name(writer));
  }
}

qrn::stream_report report_of(stream_info& stream) {
  qrn::stream_report report;
  report.name = stream_name(stream);
  report.type = qrn::internal::demangled(stream.type().name());
  qrn::internal::stream_stats stats;
  qrn::internal::stream_cycle_stats cycles;
  qrn::internal::stream_contents contents;
  qrn::internal::stream_users users;
  {
    const stream_access access(stream, stream_access::attempt::briefly);
    if (!access.granted()) {
      report.busy = true;
      return report;
    }
    cycles = cycle_stats_so_far(stream);
    stats = stream.stats();
    stats.asleep_ns += ongoing_sleep_ns(stream, steady_now_ns());  // exact under the stream's mutex
    stream.contents(contents);
    report.drops_packet_flags = stream.dropped().packet_flags;
    report.drops_empty_counts = stream.dropped().empty_counts;
    report.depth = stream.depth().configured;
    users = stream.endpoints();
  }
  name_users(users, report);
  report.written = stats.written;
  report.read = stats.read;
  report.peak = stats.peak;
  report.asleep_seconds = seconds(stats.asleep_ns);
  report.occupancy = contents.occupancy;
  report.sleepers = contents.sleepers;
  report.printable = contents.printable;
  report.first_values = contents.first_values;
  fill_stream_cycles(cycles, report);
  return report;
}

qrn::stream_report report_of(const qrn::internal::retired_stream& stream) {
  qrn::stream_report report;
  report.name = stream.name;
  report.type = stream.type;
  report.written = stream.stats.written;
  report.read = stream.stats.read;
  report.peak = stream.stats.peak;
  report.asleep_seconds = seconds(stream.stats.asleep_ns);
  report.occupancy = stream.contents.occupancy;
  report.printable = stream.contents.printable;
  report.first_values = stream.contents.first_values;
  report.destroyed = true;
  report.depth = stream.depth;
  report.drops_packet_flags = stream.dropped.packet_flags;
  report.drops_empty_counts = stream.dropped.empty_counts;
  name_users(stream.users, report);
  fill_stream_cycles(stream.cycles, report);
  return report;
}

// The streams with static storage duration destroyed so far, by address,
// with their classes (no other object takes such an address while the
// program or library that holds it stays loaded). Guarded by the registry's
// mutex; never destroyed (streams are destroyed and named at exit).
std::unordered_map<const void*, const std::type_info*>& destroyed_static_streams() {
  static auto* const destroyed = new std::unordered_map<const void*, const std::type_info*>;
  return *destroyed;
}

}  // namespace

stream_access::stream_access(const stream_info& stream, attempt how) {
  if (stream_held_by_this_thread() == &stream || qrn::internal::fatal_stream_use() == &stream) {
    granted_ = true;
    return;
  }
  std::mutex& mutex = stream.mutex();
  granted_ = how == attempt::briefly ? try_lock_briefly(mutex) : mutex.try_lock();
  if (granted_) {
    locked_ = &mutex;
  }
}

stream_access::~stream_access() {
  if (locked_ != nullptr) {
    locked_->unlock();
  }
}

const stream_info*& stream_held_by_this_thread() {
  static thread_local const stream_info* stream = nullptr;
  return stream;
}

std::string stream_name(stream_info& stream) {
  if (stream.name().empty() && !stream.name_searched()) {
    stream.mark_name_searched();
    // Streams of the same class, live or destroyed static ones, listed when asked.
    std::unordered_set<const void*> alike;
    const auto same_kind = [&alike, &stream](const void* address) {
      if (alike.empty()) {
        for (const stream_info* live = qrn::internal::stream_registry().head; live != nullptr;
             live = live->next()) {
          if (live->type() == stream.type()) {
            alike.insert(&live->stream());
          }
        }
        for (const auto& destroyed : destroyed_static_streams()) {
          if (*destroyed.second == stream.type()) {
            alike.insert(destroyed.first);
          }
        }
      }
      return alike.count(address) != 0;
    };
    std::string found =
        variable_name(&stream.stream(), stream.object_size(), same_kind, stream.site());
    if (found.empty()) {
      found = declaration_name(stream.site(), stream.ordinal_at_site());
    }
    stream.set_found_name(std::move(found));
  }
  return stream.display_name();
}

void note_stream_destroyed(const stream_info& stream) noexcept {
  try {
    if (has_static_storage(&stream.stream())) {
      destroyed_static_streams()[&stream.stream()] = &stream.type();
    }
  } catch (...) {  // out of memory: its array's other elements fall back to their declaration
  }
}

std::string live_stream_name(const stream_info* stream) {
  for (stream_info* live = qrn::internal::stream_registry().head; live != nullptr;
       live = live->next()) {
    if (live == stream) {
      return stream_name(*live);
    }
  }
  return {};
}

std::string component_name(const always_run_record& record) {
  if (record.label != nullptr) {
    return *record.label;
  }
  std::string name = function_name(record.function);
  if (name.empty() && record.signature != nullptr) {
    name = qrn::internal::component_name_from_signature(record.signature);
  }
  return name;
}

std::string this_thread_description() {
  if (const always_run_record* record = qrn::internal::current_always_run_record()) {
    return "component " + component_name(*record);
  }
  return ::syscall(SYS_gettid) == ::getpid() ? "the test bench" : "a test bench thread";
}

}  // namespace qrn_runtime

namespace qrn {

run_report snapshot_run() {
  if (qrn_runtime::graph_recording()) {
    qrn_runtime::graph_clock_read();  // it shows cycle counts
  }
  run_report report;
  {
    internal::stream_registry_state& registry = internal::stream_registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    std::vector<std::pair<std::uint64_t, stream_report>> streams;  // by creation serial
    if (registry.retired != nullptr) {
      for (const internal::retired_stream& stream : *registry.retired) {
        streams.emplace_back(stream.serial, qrn_runtime::report_of(stream));
      }
    }
    for (internal::stream_info* stream = registry.head; stream != nullptr;
         stream = stream->next()) {
      streams.emplace_back(stream->serial(), qrn_runtime::report_of(*stream));
    }
    std::sort(streams.begin(), streams.end(),
              [](const std::pair<std::uint64_t, stream_report>& a,
                 const std::pair<std::uint64_t, stream_report>& b) { return a.first < b.first; });
    std::map<std::uint64_t, std::string> names;
    for (std::pair<std::uint64_t, stream_report>& stream : streams) {
      names.emplace(stream.first, stream.second.name);
      report.streams.push_back(std::move(stream.second));
    }
    for (const internal::always_run_record* record =
             internal::activity().always_run_head.load(std::memory_order_acquire);
         record != nullptr; record = record->next) {
      component_report component;
      component.name = qrn_runtime::component_name(*record);
      component.calls = record->calls.load();
      component.moving_calls = record->moving_calls.load();
      component.stopped = record->halted.load();
      if (!component.stopped) {  // a stopped one may point at a stream destroyed since
        const qrn::internal::stream_info* waiting_on = record->waiting_on.load();
        const qrn::internal::stream_info* full = record->waiting_to_write.load();
        component.asleep_seconds = qrn_runtime::seconds(
            record->asleep_ns.load() +
            qrn_runtime::sleeping_ns(waiting_on != nullptr ? waiting_on : full,
                                     record->asleep_since_ns.load(), qrn_runtime::steady_now_ns()));
        component.waiting_on = qrn_runtime::live_stream_name(waiting_on);
        component.last_empty = qrn_runtime::live_stream_name(record->last_empty.load());
        component.waiting_to_write = qrn_runtime::live_stream_name(full);
      } else {
        component.asleep_seconds = qrn_runtime::seconds(record->asleep_ns.load());
      }
      component.task = record->task;
      component.ended = record->ended.load();
      component.cycles.busy = record->clock.busy;  // 0 unless the run is timed
      component.cycles.clock = record->clock.now;
      component.cycles.iterations = record->clock.iterations;
      report.components.insert(report.components.begin(), component);
    }
    qrn_runtime::fill_design_cycles(report, names);
  }
  return report;
}

}  // namespace qrn
