#include "hang_watch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "HLS/diagnostics.h"
#include "HLS/internal/activity.h"
#include "HLS/internal/parking.h"
#include "HLS/internal/process_exit.h"
#include "HLS/internal/settings.h"
#include "depth_growth.h"
#include "depth_settings.h"
#include "report_formats.h"
#include "run_snapshot.h"
#include "seconds_setting.h"
#include "settings.h"
#include "steady_clock_ns.h"
#include "wait_cycles.h"

namespace qrn_runtime {

using qrn::internal::always_run_record;
using qrn::internal::stream_info;
using steady = std::chrono::steady_clock;

namespace {

constexpr double default_hang_after_seconds = 2;
// While elements move under a sleeping reader, it looks every
// QRN_HANG_AFTER / looks_while_moving, so that the first look that sees the
// final counts comes at most that much after the last move.
constexpr int looks_while_moving = 8;

// What the looks have seen; guarded by `mutex`, which a look only tries.
//
// A look counts the moves (elements written and read over all streams). Each
// reader looks as its sleep starts (unless a look was made a moment ago) and
// then when the look asks it to: soon while elements move, else when a report
// could be due. So a reader blocked for less than QRN_HANG_AFTER on a run
// where nothing moves wakes for no look at all.
struct hang_state {
  std::mutex mutex;
  steady::duration hang_after{};  // QRN_HANG_AFTER
  steady::duration soon{};        // hang_after / looks_while_moving
  bool exit_on_hang = false;
  bool seen = false;         // `moves`, `since` and `last_look` hold looks' findings
  std::uint64_t moves = 0;   // elements written and read, all streams together
  steady::time_point since;  // when a look first saw `moves`: the last move came before
  // The moment after which the last move came: the look before `since`, or
  // the latest start of a sleep, whichever is later.
  steady::time_point moved_after;
  steady::time_point last_look;  // the latest look that counted the moves
  bool reported = false;         // the state with `moves` has been reported
  // Calls and parks of each component at the last look, and at the look
  // that first saw `moves`.
  std::map<const always_run_record*, std::pair<std::uint64_t, std::uint64_t>> calls_seen;
  std::map<const always_run_record*, std::pair<std::uint64_t, std::uint64_t>> calls_since;
  // Reported task cycles (run-all, exit): each is reported once.
  std::set<std::string> task_cycles_reported;
};

hang_state& state() {
  static auto* current = new hang_state;  // never destroyed: looks may run at exit
  return *current;
}

// Elements written and read so far over all live streams; false when a
// stream's lock is taken (something is moving).
bool total_moves(std::uint64_t& moves) {
  qrn::internal::stream_registry_state& registry = qrn::internal::stream_registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  moves = 0;
  for (const stream_info* stream = registry.head; stream != nullptr; stream = stream->next()) {
    const stream_access access(*stream, stream_access::attempt::once);
    if (!access.granted()) {
      return false;
    }
    moves += stream->stats().written + stream->stats().read;
  }
  return true;
}

// True when every component sleeps in a blocking read, has halted (see
// component_stop.h) or ended, or has completed two calls or parked twice (a
// task polling inside its call) since the last look, or spins: it has
// neither completed a call nor parked since the look that first saw the
// current moves, and is not parked now (it runs code that uses no stream).
// Records what it saw; `spinning` gets the spinning components.
bool components_quiet(hang_state& s, std::vector<const always_run_record*>& spinning) {
  bool quiet = true;
  spinning.clear();
  for (const always_run_record* record =
           qrn::internal::activity().always_run_head.load(std::memory_order_acquire);
       record != nullptr; record = record->next) {
    const std::uint64_t calls = record->calls.load();
    const std::uint64_t parks = record->parker != nullptr ? record->parker->sleeps() : 0;
    std::pair<std::uint64_t, std::uint64_t>& seen = s.calls_seen[record];
    if (!record->ended.load() && !record->asleep.load() && !record->halted.load() &&
        calls < seen.first + 2 && parks < seen.second + 2) {
      const auto since = s.calls_since.find(record);
      const bool parked = record->parker != nullptr && record->parker->parked_now();
      if (since != s.calls_since.end() && since->second == std::make_pair(calls, parks) &&
          !parked) {
        spinning.push_back(record);
      } else {
        quiet = false;
      }
    }
    seen = {calls, parks};
  }
  return quiet;
}

// False when one of `spinning` has fallen asleep since it was seen running:
// it was in the polls a wait makes before sleeping, not spinning, and the
// next look judges the run again.
bool spinners_still_run(const std::vector<const always_run_record*>& spinning) {
  return std::none_of(spinning.begin(), spinning.end(), [](const always_run_record* record) {
    return record->asleep.load() || record->ended.load() || record->halted.load();
  });
}

// When the last of the sleeping test bench, components and `watch`'s reader
// fell asleep: none of them has moved an element since.
steady::time_point latest_sleep_start(const qrn::internal::hang_watch& watch) {
  std::int64_t latest_ns =
      std::chrono::duration_cast<std::chrono::nanoseconds>(watch.asleep_since.time_since_epoch())
          .count();
  const qrn::internal::activity_state& activity = qrn::internal::activity();
  if (activity.bench_waiting_on.load() != nullptr ||
      activity.bench_waiting_for_task.load() != nullptr) {
    latest_ns = std::max(latest_ns, activity.bench_asleep_since_ns.load());
  }
  for (const always_run_record* record = activity.always_run_head.load(std::memory_order_acquire);
       record != nullptr; record = record->next) {
    if (record->waiting_on.load() != nullptr) {
      latest_ns = std::max(latest_ns, record->asleep_since_ns.load());
    }
  }
  return steady::time_point(std::chrono::nanoseconds(latest_ns));
}

std::string seconds_text(double seconds) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(1) << seconds;
  return text.str();
}

// A sleeping thread as the report shows it: where it waits (to read an
// element, or for room to write one), and how long.
struct sleeper {
  std::string who;
  const stream_info* stream;
  std::int64_t since_ns;
  bool writing;
  const always_run_record* record;  // null: the test bench
};

// The last line of a report after which the run goes on waiting.
void write_how_to_fail(std::ostream& text) {
  text << "qrn: the run keeps waiting; set QRN_ON_HANG=exit to end it with status 1 instead\n";
}

// The kind of hang, after the report's first line: a spin when components
// run without using any stream, a livelock when no component sleeps and
// some keep polling, else the kind of deadlock.
std::string deadlock_kind(const std::vector<sleeper>& sleepers, std::size_t pollers,
                          std::size_t spinners) {
  std::size_t writers = 0;
  std::size_t components = 0;
  for (const sleeper& s : sleepers) {
    writers += s.writing ? 1 : 0;
    components += s.record != nullptr ? 1 : 0;
  }
  if (spinners > 0) {
    return "qrn:   a spin: " + std::to_string(spinners) +
           (spinners == 1 ? " component runs" : " components run") +
           " without using any stream, and every other thread waits\n";
  }
  if (components == 0 && pollers > 0) {
    return "qrn:   a livelock: no component waits, and every one that runs only polls streams "
           "that stay empty\n";
  }
  if (writers == 0) {
    return "qrn:   a deadlock on data: every waiting thread waits for an element\n";
  }
  return "qrn:   a deadlock on depth: " + std::to_string(writers) +
         (writers == 1 ? " writer waits" : " writers wait") + " for room in a full stream\n";
}

// Who waits where, at one moment, for a report.
struct run_waits {
  qrn::run_report report;
  std::int64_t now_ns = 0;
  std::vector<sleeper> sleepers;
  std::vector<std::pair<std::string, const stream_info*>> pollers;
  std::vector<std::string> stopped;
  const always_run_record* bench_waits_for_task = nullptr;
};

run_waits collect_waits() {
  run_waits waits;
  waits.report = qrn::snapshot_run();
  waits.now_ns = steady_now_ns();
  const qrn::internal::activity_state& activity = qrn::internal::activity();
  if (const stream_info* stream = activity.bench_waiting_on.load()) {
    waits.sleepers.push_back(
        {"the test bench", stream, activity.bench_asleep_since_ns.load(), false, nullptr});
  } else if (const stream_info* full = activity.bench_waiting_to_write.load()) {
    waits.sleepers.push_back(
        {"the test bench", full, activity.bench_asleep_since_ns.load(), true, nullptr});
  }
  waits.bench_waits_for_task = activity.bench_waiting_for_task.load();
  for (const always_run_record* record = activity.always_run_head.load(std::memory_order_acquire);
       record != nullptr; record = record->next) {
    if (record->ended.load()) {
      continue;
    }
    const std::string who = "component " + component_name(*record);
    if (record->halted.load()) {
      waits.stopped.push_back(who);
    } else if (const stream_info* stream = record->waiting_on.load()) {
      waits.sleepers.push_back({who, stream, record->asleep_since_ns.load(), false, record});
    } else if (const stream_info* full = record->waiting_to_write.load()) {
      waits.sleepers.push_back({who, full, record->asleep_since_ns.load(), true, record});
    } else {
      waits.pollers.emplace_back(who, record->last_empty.load());
    }
  }
  return waits;
}

// Where no other end of a stream has been seen (its writer, for a thread
// that waits to read it; its reader, for one that waits to write): the one
// running component other than `waiting` that was given the stream as an
// argument, or nothing. (The waiting component itself is never taken: it
// may be waiting for the test bench.) Requires the registry's mutex.
std::vector<std::string> inferred_other_end(const sleeper& waiting) {
  const void* stream = &waiting.stream->stream();
  std::vector<std::string> found;
  for (const always_run_record* record =
           qrn::internal::activity().always_run_head.load(std::memory_order_acquire);
       record != nullptr; record = record->next) {
    if (record != waiting.record && !record->ended.load() && record->stream_arguments != nullptr &&
        std::find(record->stream_arguments->begin(), record->stream_arguments->end(), stream) !=
            record->stream_arguments->end()) {
      found.push_back("component " + component_name(*record));
    }
  }
  return found.size() == 1 ? found : std::vector<std::string>();
}

// The waits of `waits`, one line each, then the cycles they form, the
// pollers, the spinning components (by name in `spinning`), the stopped
// ones and the streams holding data no one reads. Returns true when a cycle
// holds only tasks.
bool write_waits(std::ostringstream& text, const run_waits& waits,
                 const std::vector<std::string>& spinning) {
  bool task_cycle = false;
  std::map<std::string, qrn::stream_report> ends;  // by stream name, other ends inferred
  for (const qrn::stream_report& s : waits.report.streams) {
    ends[s.name] = s;
  }
  std::map<std::string, const qrn::stream_report*> reports;
  for (const auto& s : ends) {
    reports[s.first] = &s.second;
  }
  std::map<std::string, unsigned int> named_sleepers;
  std::vector<waiting_thread> waiting;
  std::set<std::string> full_and_held;  // full streams a writer waits on: their reader is named
  std::lock_guard<std::mutex> lock(qrn::internal::stream_registry().mutex);
  const auto described = [&](const stream_info* stream) {
    const std::string name = live_stream_name(stream);
    const auto found = reports.find(name);
    return name.empty() || found == reports.end() ? std::string("none")
                                                  : name + " (" + found->second->type + ")";
  };
  const auto described_full = [&](const stream_info* stream) {
    const std::string name = live_stream_name(stream);
    const auto found = reports.find(name);
    if (name.empty() || found == reports.end()) {
      return std::string("none");
    }
    return name + " (" + found->second->type + ", depth " + std::to_string(found->second->depth) +
           ", full)";
  };
  if (waits.bench_waits_for_task != nullptr) {
    text << "qrn:   the test bench waits for task " << component_name(*waits.bench_waits_for_task)
         << " to end for "
         << seconds_text(
                static_cast<double>(waits.now_ns -
                                    qrn::internal::activity().bench_asleep_since_ns.load()) /
                1e9)
         << " s\n";
  }
  for (const sleeper& s : waits.sleepers) {
    const std::string name = live_stream_name(s.stream);
    const std::string waits_for = s.writing ? " waits to write " + described_full(s.stream)
                                            : " waits in a blocking read of " + described(s.stream);
    text << "qrn:   " << s.who << waits_for << " for "
         << seconds_text(static_cast<double>(waits.now_ns - s.since_ns) / 1e9) << " s\n";
    if (!s.writing) {
      ++named_sleepers[name];
    } else {
      full_and_held.insert(name);
    }
    waiting.push_back({s.who, name, s.writing});
    const auto stream = ends.find(name);
    if (stream != ends.end()) {
      std::vector<std::string>& other_end =
          s.writing ? stream->second.readers : stream->second.writers;
      if (other_end.empty()) {
        other_end = inferred_other_end(s);
      }
    }
  }
  for (const wait_cycle& cycle : wait_cycles(waiting, reports)) {
    task_cycle =
        task_cycle || std::all_of(cycle.threads.begin(), cycle.threads.end(), [&](std::size_t i) {
          const always_run_record* r = waits.sleepers[i].record;
          return r != nullptr && r->task;
        });
    const sleeper& only = waits.sleepers[cycle.threads.front()];
    if (cycle.threads.size() == 1) {
      text << "qrn:   " << only.who << " both writes and reads " << live_stream_name(only.stream)
           << ": it waits for "
           << (only.writing ? "room that only it can make\n"
                            : "an element that only it can write\n");
    } else {
      text << "qrn:   the waits form a cycle: " << cycle.text << "\n";
    }
  }
  for (const auto& poller : waits.pollers) {
    if (std::find(spinning.begin(), spinning.end(), poller.first) != spinning.end()) {
      text << "qrn:   " << poller.first
           << " runs but has used no stream since elements last moved\n";
      continue;
    }
    text << "qrn:   " << poller.first
         << " keeps polling; the last stream it found empty: " << described(poller.second) << "\n";
  }
  for (const std::string& who : waits.stopped) {
    text << "qrn:   " << who << " is stopped: a stream it used was destroyed\n";
  }
  for (const qrn::stream_report& s : waits.report.streams) {
    const unsigned int named = named_sleepers[s.name];
    if (s.sleepers > named) {
      text << "qrn:   " << s.sleepers - named << " other thread(s) wait in a blocking read of "
           << s.name << " (" << s.type << ")\n";
    }
    if (s.occupancy > 0 && full_and_held.count(s.name) == 0) {
      text << "qrn:   stream " << s.name << " (" << s.type << ") holds " << s.occupancy
           << " element(s) that no one reads" << (s.printable ? ": " + s.first_values : "")
           << (s.printable && s.occupancy > 4 ? ", ..." : "") << "\n";
    }
  }
  return task_cycle;
}

// The report's first line for a run stuck for `stuck_seconds`.
std::string stuck_for(double stuck_seconds) {
  return "qrn: hang: no stream element has moved for " + seconds_text(stuck_seconds) +
         " s, and no thread can move one\n";
}

// The report's first line for a timed run in which no component can run:
// the cycle every clock has stopped at (the latest component clock).
std::string stopped_clocks() {
  std::uint64_t cycle = 0;
  for (const always_run_record* record =
           qrn::internal::activity().always_run_head.load(std::memory_order_acquire);
       record != nullptr; record = record->next) {
    cycle = std::max(cycle, record->clock.now);
  }
  return "qrn: hang: every clock stopped at cycle " + std::to_string(cycle) +
         ", and no component can run\n";
}

void write_hang_report(const std::string& headline, bool exit_after,
                       const std::vector<const always_run_record*>& spinning_records) {
  const run_waits waits = collect_waits();
  std::vector<std::string> spinning;
  spinning.reserve(spinning_records.size());
  for (const always_run_record* record : spinning_records) {
    spinning.push_back("component " + component_name(*record));
  }
  std::ostringstream text;
  text << headline << deadlock_kind(waits.sleepers, waits.pollers.size(), spinning.size());
  write_waits(text, waits, spinning);
  text << "qrn: run report\n";
  qrn::print_run_table(text, waits.report);
  if (!exit_after) {
    write_how_to_fail(text);
  }
  std::cerr << text.str() << std::flush;
}

}  // namespace

void configure_hang_watch() {
  const seconds_setting hang_after("QRN_HANG_AFTER", default_hang_after_seconds,
                                   "0 turns hang checks off");
  hang_state& s = state();
  s.hang_after = std::chrono::duration_cast<steady::duration>(
      std::chrono::duration<double>(hang_after.seconds()));
  s.soon = s.hang_after / looks_while_moving;
  if (const qrn::internal::setting on_hang = qrn::internal::setting_value("QRN_ON_HANG")) {
    const std::string value(on_hang.value);
    if (is_word(value, "exit")) {
      s.exit_on_hang = true;
    } else if (!is_word(value, "wait")) {
      std::cerr << "qrn: ignoring QRN_ON_HANG=" << value << on_hang.note()
                << ": expected wait or exit; using wait\n";
      qrn::internal::note_bad_setting();
    }
  }
  if (s.soon.count() > 0) {
    qrn::internal::diagnostic_hooks().look_for_hang.store(&look_for_hang);
  }
}

std::chrono::nanoseconds::rep look_for_hang(const qrn::internal::hang_watch& watch, bool ran_out) {
  hang_state& s = state();
  std::unique_lock<std::mutex> lock(s.mutex, std::try_to_lock);
  const steady::time_point now = steady::now();
  if (!lock.owns_lock() || (!ran_out && s.seen && now - s.last_look < s.soon)) {
    // Another look is under way, or one was made a moment ago.
    return std::chrono::duration_cast<std::chrono::nanoseconds>(s.soon).count();
  }
  stream_held_by_this_thread() = watch.stream;
  steady::duration until_next_look = s.soon;
  std::uint64_t moves = 0;
  std::vector<const always_run_record*> spinning;
  const bool quiet = components_quiet(s, spinning);
  if (qrn::internal::activity().pending_wakeups.load() != 0 || !total_moves(moves)) {
    // Something is on its way, or a stream is in use: no verdict this time.
  } else if (!s.seen || moves != s.moves || !qrn::internal::bench_waits()) {
    // Elements moved, or the test bench runs its own code: progress.
    s.moved_after = std::max(s.seen ? s.last_look : now, latest_sleep_start(watch));
    s.seen = true;
    s.moves = moves;
    s.since = now;
    s.last_look = now;
    s.reported = false;
    s.calls_since = s.calls_seen;
    // Moves seen by a sleep that starts are mostly the sleeper's own.
    until_next_look = ran_out ? s.soon : s.hang_after;
  } else {
    s.last_look = now;
    const steady::duration stuck = now - s.since;
    // A growth needs a shorter stillness than a report: a writer held by a
    // full stream while nothing moves anywhere is what it is for.
    const bool growing = depth_mode_setting() == qrn::internal::depth_mode::grow;
    const steady::duration verdict_after = growing ? s.hang_after / 4 : s.hang_after;
    if (quiet && !s.reported && stuck >= verdict_after) {
      if (growing && grow_a_held_stream()) {
        s.seen = false;  // the run goes on; a new stuck state is timed afresh
        stream_held_by_this_thread() = nullptr;
        return std::chrono::duration_cast<std::chrono::nanoseconds>(s.soon).count();
      }
    }
    if (quiet && !s.reported && stuck >= s.hang_after && spinners_still_run(spinning)) {
      s.reported = true;
      write_hang_report(stuck_for(std::chrono::duration<double>(now - s.moved_after).count()),
                        s.exit_on_hang, spinning);
      if (s.exit_on_hang) {
        qrn::internal::claim_process_ending();
        std::cerr << "qrn: ending the process with status 1 (QRN_ON_HANG=exit)\n" << std::flush;
        qrn::internal::end_process_now(1);
      }
    }
    until_next_look = s.reported ? s.hang_after : std::max(s.soon, s.since + verdict_after - now);
  }
  stream_held_by_this_thread() = nullptr;
  return std::chrono::duration_cast<std::chrono::nanoseconds>(until_next_look).count();
}

void report_deadlock(bool livelock) {
  qrn::internal::claim_process_ending();
  const bool timed = qrn::internal::timed_run();
  write_hang_report(timed ? stopped_clocks() : stuck_for(0), true, {});
  std::cerr << "qrn: ending the process with status 1 ("
            << (timed ? "QRN_TIME=cycles: " : "QRN_SCHEDULE=fibers: ")
            << (livelock ? "every component that can run only polls streams that stay empty"
                         : "no component can run")
            << ")\n"
            << std::flush;
  qrn::internal::end_process_now(1);
}

steady::duration hang_after_setting() { return state().hang_after; }

void report_spinning_fiber(const always_run_record& record, double seconds) {
  std::ostringstream text;
  text << "qrn: hang: component " << component_name(record) << " has not given control back for "
       << seconds_text(seconds) << " s: it runs without using any stream ("
       << (qrn::internal::timed_run() ? "QRN_TIME=cycles" : "QRN_SCHEDULE=fibers") << ")\n";
  if (state().exit_on_hang) {
    qrn::internal::claim_process_ending();
    text << "qrn: ending the process with status 1 (QRN_ON_HANG=exit)\n";
    std::cerr << text.str() << std::flush;
    qrn::internal::end_process_now(1);
  }
  write_how_to_fail(text);
  std::cerr << text.str() << std::flush;
}

bool report_tasks_waiting_on_each_other(const char* seen_by) {
  static std::atomic<bool> reported{false};
  bool any_task_asleep = false;
  for (const always_run_record* record =
           qrn::internal::activity().always_run_head.load(std::memory_order_acquire);
       record != nullptr; record = record->next) {
    any_task_asleep =
        any_task_asleep || (record->task && !record->ended.load() && record->asleep.load());
  }
  if (!any_task_asleep || reported.load()) {
    return false;
  }
  const run_waits waits = collect_waits();
  std::ostringstream body;
  if (!write_waits(body, waits, {}) || reported.exchange(true)) {
    return false;
  }
  const bool exit_after = state().exit_on_hang;
  std::ostringstream text;
  text << "qrn: deadlock: tasks wait on each other and can never end (seen " << seen_by << ")\n"
       << body.str() << "qrn: run report\n";
  qrn::print_run_table(text, waits.report);
  if (exit_after) {
    qrn::internal::claim_process_ending();
    text << "qrn: ending the process with status 1 (QRN_ON_HANG=exit)\n";
  } else {
    text << "qrn: the run goes on; set QRN_ON_HANG=exit to end it with status 1 instead\n";
  }
  std::cerr << text.str() << std::flush;
  return exit_after;
}

int status_for_stuck_tasks(int status) {
  return report_tasks_waiting_on_each_other("as the process ends") ? 1 : status;
}

void check_tasks_after_run_all() {
  if (report_tasks_waiting_on_each_other("by run-all")) {
    qrn::internal::end_process_now(1);
  }
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
