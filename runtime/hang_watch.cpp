#include "hang_watch.h"

#include <chrono>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

#include "HLS/diagnostics.h"
#include "HLS/internal/activity.h"
#include "HLS/internal/process_exit.h"
#include "report_formats.h"
#include "run_snapshot.h"
#include "seconds_setting.h"

namespace qrn_runtime {

using qrn::internal::always_run_record;
using qrn::internal::stream_info;
using steady = std::chrono::steady_clock;

namespace {

constexpr double default_hang_after_seconds = 2;

// What the looks have seen; guarded by `mutex`, which a look only tries.
struct hang_state {
  std::mutex mutex;
  double hang_after_seconds = default_hang_after_seconds;
  bool exit_on_hang = false;
  bool seen = false;         // `moves` and `since` hold a look's findings
  std::uint64_t moves = 0;   // elements written and read, all streams together
  steady::time_point since;  // when a look first saw `moves`
  bool reported = false;     // the state with `moves` has been reported
  std::map<const always_run_record*, std::uint64_t> calls_seen;  // at the last look
};

hang_state& state() {
  static hang_state* current = new hang_state;  // never destroyed: looks may run at exit
  return *current;
}

// Elements written and read so far over all live streams; false when a
// stream's lock is taken (something is moving).
bool total_moves(std::uint64_t& moves) {
  qrn::internal::stream_registry_state& registry = qrn::internal::stream_registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  moves = 0;
  for (const stream_info* stream = registry.head; stream != nullptr; stream = stream->next()) {
    const bool held = stream_held_by_this_thread() == stream;
    if (!held && !stream->mutex().try_lock()) {
      return false;
    }
    moves += stream->stats().written + stream->stats().read;
    if (!held) {
      stream->mutex().unlock();
    }
  }
  return true;
}

// True when every component sleeps in a blocking read or has completed two
// calls since the last look; records the calls seen.
bool components_quiet(hang_state& s) {
  bool quiet = true;
  for (const always_run_record* record =
           qrn::internal::activity().always_run_head.load(std::memory_order_acquire);
       record != nullptr; record = record->next) {
    const std::uint64_t calls = record->calls.load();
    std::uint64_t& seen = s.calls_seen[record];
    if (!record->asleep.load() && calls < seen + 2) {
      quiet = false;
    }
    seen = calls;
  }
  return quiet;
}

std::string seconds_text(double seconds) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(1) << seconds;
  return text.str();
}

void write_hang_report(const qrn::internal::hang_watch& watch, double stuck_seconds) {
  const qrn::run_report report = qrn::snapshot_run();
  std::string waiting_stream;
  {
    std::lock_guard<std::mutex> lock(qrn::internal::stream_registry().mutex);
    waiting_stream = live_stream_name(watch.stream);
  }
  const std::string me = this_thread_description();
  std::ostringstream text;
  text << "qrn: hang: no stream element has moved for " << seconds_text(stuck_seconds)
       << " s, and no thread can move one\n";
  std::map<std::string, unsigned int> component_sleepers;
  text << "qrn:   " << me << " waits in a blocking read of " << waiting_stream;
  for (const qrn::stream_report& s : report.streams) {
    if (s.name == waiting_stream) {
      text << " (" << s.type << ")";
    }
  }
  const double waited = std::chrono::duration<double>(steady::now() - watch.asleep_since).count();
  text << " for " << seconds_text(waited) << " s\n";
  ++component_sleepers[waiting_stream];
  for (const qrn::component_report& c : report.components) {
    if ("component " + c.name == me) {
      continue;
    }
    if (!c.waiting_on.empty()) {
      text << "qrn:   component " << c.name << " waits in a blocking read of " << c.waiting_on
           << "\n";
      ++component_sleepers[c.waiting_on];
    } else {
      text << "qrn:   component " << c.name << " keeps polling; the last stream it found empty: "
           << (c.last_empty.empty() ? "none" : c.last_empty) << "\n";
    }
  }
  for (const qrn::stream_report& s : report.streams) {
    const unsigned int known = component_sleepers[s.name];
    if (s.sleepers > known) {
      text << "qrn:   " << s.sleepers - known << " other thread(s) wait in a blocking read of "
           << s.name << " (" << s.type << ")\n";
    }
    if (s.occupancy > 0) {
      text << "qrn:   stream " << s.name << " (" << s.type << ") holds " << s.occupancy
           << " element(s) that no one reads" << (s.printable ? ": " + s.first_values : "")
           << (s.printable && s.occupancy > 4 ? ", ..." : "") << "\n";
    }
  }
  text << "qrn: run report\n";
  qrn::print_run_table(text, report);
  std::cerr << text.str() << std::flush;
}

}  // namespace

void configure_hang_watch() {
  const seconds_setting hang_after("QRN_HANG_AFTER", default_hang_after_seconds);
  hang_state& s = state();
  s.hang_after_seconds = hang_after.seconds();
  if (const char* on_hang = std::getenv("QRN_ON_HANG")) {
    const std::string value(on_hang);
    if (value == "exit") {
      s.exit_on_hang = true;
    } else if (value != "wait") {
      std::cerr << "qrn: ignoring QRN_ON_HANG=" << value << ": expected wait or exit; using wait\n";
    }
  }
  const std::chrono::nanoseconds look = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::duration<double>(s.hang_after_seconds));
  qrn::internal::diagnostic_hooks().look_for_hang.store(&look_for_hang);
  qrn::internal::diagnostic_hooks().hang_look_ns.store(look.count());
}

void look_for_hang(const qrn::internal::hang_watch& watch) {
  hang_state& s = state();
  std::unique_lock<std::mutex> lock(s.mutex, std::try_to_lock);
  if (!lock.owns_lock()) {
    return;
  }
  stream_held_by_this_thread() = watch.stream;
  std::uint64_t moves = 0;
  const bool quiet = components_quiet(s);
  if (qrn::internal::activity().pending_wakeups.load() != 0 || !total_moves(moves)) {
    s.seen = false;
  } else if (!s.seen || moves != s.moves) {
    s.seen = true;
    s.moves = moves;
    s.since = steady::now();
    s.reported = false;
  } else {
    const double stuck = std::chrono::duration<double>(steady::now() - s.since).count();
    if (quiet && !s.reported && stuck >= s.hang_after_seconds) {
      s.reported = true;
      write_hang_report(watch, stuck);
      if (s.exit_on_hang) {
        qrn::internal::claim_process_ending();
        std::cerr << "qrn: ending the process with status 1 (QRN_ON_HANG=exit)\n" << std::flush;
        qrn::internal::end_process_now(1);
      }
    }
  }
  stream_held_by_this_thread() = nullptr;
}

void describe_fatal_use(const stream_info& stream) {
  std::string name;
  {
    std::lock_guard<std::mutex> lock(qrn::internal::stream_registry().mutex);
    name = live_stream_name(&stream);
  }
  std::cerr << "qrn: the error below was a read of empty stream " << name << " ("
            << qrn::internal::demangled(stream.type().name()) << ") that cannot wait, made by "
            << this_thread_description() << "\n"
            << std::flush;
}

}  // namespace qrn_runtime
