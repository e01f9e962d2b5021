// The trace recorder.
//
// Each thread that records owns a `thread_trace`: chunks of events that only
// that thread appends to, and a count of the events it has published, which
// the ending reads with acquire before it reads those events. So the file can
// be written while components still record. The component's burst in
// progress is published the same way, under a sequence count.
//
// Every event is paid for from one budget of QRN_TRACE_LIMIT events, reserved
// a chunk at a time. When a thread finds the budget spent, recording stops:
// the hooks are turned off, and events later than the first refused one are
// dropped when the file is written, so every thread's record ends at the same
// moment.
//
// Locks: `recorder::mutex` guards the thread list, the names of destroyed
// streams, the file and its path. Order: the stream registry's mutex, then a
// stream's mutex, then `recorder::mutex` (a thread registers itself from
// inside a stream operation). No thread takes the registry's mutex or a
// stream's mutex while it holds `recorder::mutex`.
#include "trace_recorder.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

#include "HLS/diagnostics.h"
#include "HLS/internal/activity.h"
#include "HLS/internal/settings.h"
#include "HLS/internal/stream_registry.h"
#include "HLS/internal/timed_run.h"
#include "HLS/internal/trace.h"
#include "run_snapshot.h"
#include "steady_clock_ns.h"
#include "timed_totals.h"
#include "trace_files.h"

namespace qrn_runtime {

using qrn::internal::stream_info;
using qrn::internal::trace_thread_state;

namespace {

constexpr std::uint64_t default_event_limit = 1000000;
// A thread reserves the budget a chunk at a time: at most this many events,
// and at most a 64th of the limit, so that the budget reserved and not yet
// used by other threads when one thread finds it spent is small.
constexpr std::uint64_t largest_chunk = 1024;
constexpr std::uint64_t no_cut = std::numeric_limits<std::uint64_t>::max();

// Steady-clock ns; in a timed run, the caller's cycle.
std::uint64_t now_ns() {
  if (qrn::internal::timed_run()) {
    return timed_cycle_now();
  }
  return static_cast<std::uint64_t>(steady_now_ns());
}

std::uint64_t tag(trace_event_kind kind, std::uint64_t payload) {
  return (static_cast<std::uint64_t>(kind) << trace_event::kind_shift) |
         (payload & trace_event::payload_mask);
}

struct chunk {
  explicit chunk(std::uint64_t size) : events(size), capacity(size) {}
  std::vector<trace_event> events;  // written by the owner before it publishes them
  std::uint64_t capacity;
  std::atomic<chunk*> next{nullptr};
};

// The events of one thread. Never freed: the ending may read it while the
// thread runs on, and after the thread has gone.
struct thread_trace {
  // ---- Set before registration, then immutable -----------------------------
  const qrn::internal::always_run_record* record = nullptr;  // its component, if any
  bool main_thread = false;
  unsigned int ordinal = 0;

  // ---- Shared with the ending ---------------------------------------------
  std::atomic<chunk*> first{nullptr};
  std::atomic<std::uint64_t> published{0};  // events readable by the ending
  // The burst in progress, under a sequence count that is odd while the
  // owner changes it (or publishes the burst that closes it).
  std::atomic<std::uint64_t> burst_sequence{0};
  std::atomic<std::uint64_t> open_start{0};  // 0: no burst in progress
  std::atomic<std::uint64_t> open_end{0};
  std::atomic<std::uint64_t> open_calls{0};
  std::atomic<std::uint64_t> open_moved{0};

  // ---- Owner only --------------------------------------------------------
  chunk* last = nullptr;
  std::uint64_t used_in_last = 0;
  trace_thread_state state = trace_thread_state::running;
  bool burst_open = false;
  std::uint64_t burst_start = 0;
  std::uint64_t burst_end = 0;
  std::uint64_t burst_calls = 0;
  std::uint64_t burst_moved = 0;
  std::uint64_t last_call_end = 0;
  std::uint64_t last_wake = 0;
  std::uint64_t last_moved = 0;
};

struct recorder {
  std::uint64_t epoch_ns = now_ns();          // "process start": when the runtime was initialised
  std::uint64_t limit = default_event_limit;  // set while the runtime is initialised
  std::atomic<std::uint64_t> budget{0};       // events not yet reserved by a thread
  std::atomic<std::uint64_t> chunk_events{largest_chunk};  // set before recording starts
  std::atomic<std::uint64_t> cut_ns{no_cut};               // the first event refused
  std::atomic<bool> active{false};                         // started and not yet finished

  std::mutex mutex;
  bool started = false;                     // guarded by mutex
  bool finished = false;                    // guarded by mutex
  std::uint64_t start_ns = 0;               // guarded by mutex
  std::FILE* file = nullptr;                // guarded by mutex
  std::string path;                         // guarded by mutex
  std::string origin;                       // guarded by mutex: the setting that named the file
  trace_format format = trace_format::vcd;  // guarded by mutex
  std::vector<thread_trace*> threads;       // guarded by mutex; never freed
  std::map<std::uint64_t, std::string> destroyed;  // guarded by mutex: names by serial
};

recorder& rec() {
  static auto* current = new recorder;  // never destroyed: threads record during exit
  return *current;
}

// ---- Owner side --------------------------------------------------------------

// Takes up to `wanted` events from the budget; 0 when it is spent.
std::uint64_t reserve(std::uint64_t wanted) {
  std::atomic<std::uint64_t>& budget = rec().budget;
  std::uint64_t left = budget.load(std::memory_order_relaxed);
  while (left > 0) {
    const std::uint64_t taken = std::min(wanted, left);
    if (budget.compare_exchange_weak(left, left - taken, std::memory_order_relaxed)) {
      return taken;
    }
  }
  return 0;
}

void note_cut(std::uint64_t ns) {
  std::atomic<std::uint64_t>& cut = rec().cut_ns;
  std::uint64_t seen = cut.load(std::memory_order_relaxed);
  while (ns < seen && !cut.compare_exchange_weak(seen, ns, std::memory_order_relaxed)) {
  }
  qrn::internal::set_tracing(false);
}

// Appends `event` to the calling thread's record; false once the budget is spent.
bool push(thread_trace& t, const trace_event& event) {
  if (t.last == nullptr || t.used_in_last == t.last->capacity) {
    const std::uint64_t size = reserve(rec().chunk_events.load(std::memory_order_relaxed));
    if (size == 0) {
      note_cut(event.ns);
      return false;
    }
    auto* fresh = new chunk(size);
    if (t.last == nullptr) {
      t.first.store(fresh, std::memory_order_release);
    } else {
      t.last->next.store(fresh, std::memory_order_release);
    }
    t.last = fresh;
    t.used_in_last = 0;
  }
  t.last->events[t.used_in_last++] = event;
  t.published.store(t.published.load(std::memory_order_relaxed) + 1, std::memory_order_release);
  return true;
}

void enter_state(thread_trace& t, std::uint64_t ns, trace_thread_state state,
                 std::uint64_t stream_serial) {
  t.state = state;
  push(t, {ns, stream_serial, static_cast<std::uint64_t>(state),
           tag(trace_event_kind::thread_state, 0)});
}

// A change of the published burst: the sequence count is odd from
// begin_burst_change() to end_burst_change(). Every store in between is a
// release, so a reader that loads (with acquire) any value stored in between
// also sees the odd count, and tries again (see events_of).
void begin_burst_change(thread_trace& t) {
  t.burst_sequence.store(t.burst_sequence.load(std::memory_order_relaxed) + 1,
                         std::memory_order_relaxed);
}

void end_burst_change(thread_trace& t) {
  t.burst_sequence.store(t.burst_sequence.load(std::memory_order_relaxed) + 1,
                         std::memory_order_release);
}

void publish_open_burst(thread_trace& t) {
  begin_burst_change(t);
  t.open_start.store(t.burst_start, std::memory_order_release);
  t.open_end.store(t.burst_end, std::memory_order_release);
  t.open_calls.store(t.burst_calls, std::memory_order_release);
  t.open_moved.store(t.burst_moved, std::memory_order_release);
  end_burst_change(t);
}

// Records the burst in progress as ending at `end`.
void close_burst(thread_trace& t, std::uint64_t end) {
  begin_burst_change(t);
  push(t, {t.burst_start, t.burst_calls, end, tag(trace_event_kind::burst, t.burst_moved)});
  t.open_start.store(0, std::memory_order_release);
  end_burst_change(t);
  t.burst_open = false;
}

thread_trace* register_this_thread() {
  std::unique_ptr<thread_trace> fresh(new thread_trace);
  fresh->record = qrn::internal::current_always_run_record();
  fresh->main_thread = fresh->record == nullptr && ::syscall(SYS_gettid) == ::getpid();
  fresh->last_moved = qrn::internal::moved_elements();
  fresh->last_call_end = now_ns();
  recorder& r = rec();
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    fresh->ordinal = static_cast<unsigned int>(r.threads.size() + 1);
    r.threads.push_back(fresh.get());
  }
  thread_trace* t = fresh.release();
  enter_state(*t, t->last_call_end, trace_thread_state::running, 0);
  return t;
}

thread_trace& this_thread_trace() {
  void*& mine = this_thread_trace_slot();
  if (mine == nullptr) {
    mine = register_this_thread();
  }
  return *static_cast<thread_trace*>(mine);
}

// ---- Hooks (see HLS/internal/trace.h); none lets an exception out ----------

void on_occupancy(const stream_info& stream, std::uint64_t occupancy, bool added) noexcept {
  if (qrn::internal::timed_run()) {
    return;  // recorded in cycle order by trace_cycle_occupancy
  }
  try {
    thread_trace& t = this_thread_trace();
    const std::uint64_t ns = now_ns();
    if (t.state != trace_thread_state::running) {
      enter_state(t, ns, trace_thread_state::running, 0);
    }
    const qrn::internal::stream_stats& stats = stream.stats();
    push(t, {ns, stream.serial(), occupancy,
             tag(trace_event_kind::occupancy, stats.written + stats.read) |
                 (added ? trace_event::write_bit : 0)});
  } catch (...) {  // out of memory: recording stops
    note_cut(now_ns());
  }
}

void on_thread_state(const stream_info* stream, trace_thread_state state) noexcept {
  try {
    thread_trace& t = this_thread_trace();
    if (state == t.state && state != trace_thread_state::asleep) {
      return;  // polling on, whichever stream; running on
    }
    const std::uint64_t ns = now_ns();
    if (state == trace_thread_state::asleep && t.burst_open) {
      close_burst(t, ns);
    }
    if (t.state == trace_thread_state::asleep && state == trace_thread_state::running) {
      t.last_wake = ns;
    }
    enter_state(t, ns, state, stream != nullptr ? stream->serial() : 0);
  } catch (...) {
    note_cut(now_ns());
  }
}

void on_call_returned(std::uint64_t moved) noexcept {
  try {
    thread_trace& t = this_thread_trace();
    const std::uint64_t ns = now_ns();
    if (moved != t.last_moved) {
      if (!t.burst_open) {
        t.burst_open = true;
        t.burst_start = std::max(t.last_call_end, t.last_wake);
        t.burst_calls = 0;
        t.burst_moved = 0;
      }
      ++t.burst_calls;
      t.burst_moved += moved - t.last_moved;
      t.burst_end = ns;
      t.last_moved = moved;
      publish_open_burst(t);
    } else if (t.burst_open) {
      close_burst(t, t.burst_end);
    }
    t.last_call_end = ns;
  } catch (...) {
    note_cut(now_ns());
  }
}

void on_stream_destroyed(stream_info& stream) noexcept {
  recorder& r = rec();
  if (!r.active.load(std::memory_order_acquire)) {
    return;
  }
  try {
    std::string name;
    {
      std::lock_guard<std::mutex> lock(qrn::internal::stream_registry().mutex);
      name = stream_name(stream);
    }
    std::lock_guard<std::mutex> lock(r.mutex);
    r.destroyed[stream.serial()] = name;
  } catch (...) {  // the stream keeps its `stream#N` name in the file
  }
}

// ---- The ending's side ------------------------------------------------------

std::uint64_t relative(std::uint64_t ns) {
  if (qrn::internal::timed_run()) {
    return ns;  // cycles, from 0
  }
  const std::uint64_t epoch = rec().epoch_ns;
  return ns > epoch ? ns - epoch : 0;
}

// The published events of `t` up to `end` (steady-clock ns), and its burst in
// progress, closed at `end` at the latest.
std::vector<trace_event> events_of(thread_trace& t, std::uint64_t end) {
  std::uint64_t count = 0;
  std::array<std::uint64_t, 4> open{};
  for (int attempt = 0; attempt < 10000; ++attempt) {
    const std::uint64_t before = t.burst_sequence.load(std::memory_order_acquire);
    count = t.published.load(std::memory_order_acquire);
    open[0] = t.open_start.load(std::memory_order_acquire);
    open[1] = t.open_end.load(std::memory_order_acquire);
    open[2] = t.open_calls.load(std::memory_order_acquire);
    open[3] = t.open_moved.load(std::memory_order_acquire);
    if (before % 2 == 0 && t.burst_sequence.load(std::memory_order_relaxed) == before) {
      break;
    }
    std::this_thread::yield();
  }
  std::vector<trace_event> events;
  const chunk* c = t.first.load(std::memory_order_acquire);
  for (std::uint64_t taken = 0; taken < count && c != nullptr;
       c = c->next.load(std::memory_order_acquire)) {
    const std::uint64_t here = std::min(c->capacity, count - taken);
    for (std::uint64_t i = 0; i < here; ++i) {
      trace_event event = c->events[i];
      if (event.ns > end) {
        continue;
      }
      if (event.kind() == trace_event_kind::burst) {
        event.value = relative(std::min(event.value, end));
      }
      event.ns = relative(event.ns);
      events.push_back(event);
    }
    taken += here;
  }
  if (open[0] != 0 && open[0] <= end) {
    events.push_back({relative(open[0]), open[2], relative(std::min(open[1], end)),
                      tag(trace_event_kind::burst, open[3])});
  }
  return events;
}

std::string thread_name(const thread_trace& t) {
  if (t.record != nullptr) {
    std::string name = component_name(*t.record);
    if (!name.empty()) {
      return name;
    }
  }
  return t.main_thread ? "test bench" : "thread " + std::to_string(t.ordinal);
}

const char* extension_of(const std::string& path, trace_format& format) {
  const auto ends_with = [&path](const std::string& suffix) {
    return path.size() > suffix.size() &&
           path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  if (ends_with(".vcd")) {
    format = trace_format::vcd;
    return ".vcd";
  }
  if (ends_with(".json")) {
    format = trace_format::json;
    return ".json";
  }
  return nullptr;
}

std::string seconds_text(std::uint64_t ns) {
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%.6f", static_cast<double>(ns) / 1e9);
  return text.data();
}

}  // namespace

void configure_trace() {
  recorder& r = rec();
  qrn::internal::trace_hook_table& hooks = qrn::internal::trace_hooks();
  hooks.occupancy.store(&on_occupancy, std::memory_order_release);
  hooks.thread_state.store(&on_thread_state, std::memory_order_release);
  hooks.call_returned.store(&on_call_returned, std::memory_order_release);
  hooks.stream_destroyed.store(&on_stream_destroyed, std::memory_order_release);
  if (const qrn::internal::setting limit = qrn::internal::setting_value("QRN_TRACE_LIMIT")) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long events = std::strtoull(limit.value, &end, 10);
    if (end == limit.value || *end != '\0' || errno != 0 || events == 0 || limit.value[0] == '-') {
      std::fprintf(stderr,
                   "qrn: ignoring QRN_TRACE_LIMIT=%s%s: expected a positive number of events; "
                   "using %llu\n",
                   limit.value, limit.note(), static_cast<unsigned long long>(default_event_limit));
      qrn::internal::note_bad_setting();
    } else {
      r.limit = events;
    }
  }
  const qrn::internal::setting path = qrn::internal::setting_value("QRN_TRACE");
  if (path && path.value[0] != '\0') {
    start_trace(path.value, path.source(), std::string("QRN_TRACE=") + path.value + path.note());
  }
}

bool start_trace(const std::string& path, const std::string& origin, const std::string& request) {
  trace_format format = trace_format::vcd;
  if (extension_of(path, format) == nullptr) {
    std::fprintf(stderr, "qrn: ignoring %s: expected PATH.vcd or PATH.json; not tracing\n",
                 request.c_str());
    qrn::internal::note_bad_setting();
    return false;
  }
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    const int error = errno;
    std::fprintf(stderr, "qrn: cannot write the trace to %s (%s): %s; not tracing\n", path.c_str(),
                 origin.c_str(), std::strerror(error));
    return false;
  }
  recorder& r = rec();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (r.finished) {
    std::fclose(file);
    return false;
  }
  if (r.file != nullptr) {  // nothing written yet: the earlier destination goes
    std::fclose(r.file);
    if (r.path != path) {
      std::remove(r.path.c_str());
    }
  }
  r.file = file;
  r.path = path;
  r.origin = origin;
  r.format = format;
  if (!r.started) {
    r.started = true;
    r.start_ns = now_ns();
    r.chunk_events.store(std::max<std::uint64_t>(1, std::min(largest_chunk, r.limit / 64)),
                         std::memory_order_relaxed);
    r.budget.store(r.limit, std::memory_order_relaxed);
    r.active.store(true, std::memory_order_release);
    qrn::internal::set_tracing(true);
  }
  return true;
}

void trace_cycle_occupancy(const stream_info& stream, std::uint64_t cycle, std::uint64_t held,
                           bool added, std::uint64_t order) noexcept {
  if (!qrn::internal::tracing()) {
    return;
  }
  try {
    push(this_thread_trace(),
         {cycle, stream.serial(), held,
          tag(trace_event_kind::occupancy, order) | (added ? trace_event::write_bit : 0)});
  } catch (...) {
    note_cut(cycle);
  }
}

void finish_trace() {
  finish_all_cycle_stats();  // a timed run's occupancy, up to each stream's last transfer
  recorder& r = rec();
  std::FILE* file = nullptr;
  recorded_trace trace;
  std::string path;
  std::string origin;
  std::vector<thread_trace*> threads;
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    if (!r.started || r.finished) {
      return;
    }
    r.finished = true;
    file = r.file;
    r.file = nullptr;
    path = r.path;
    origin = r.origin;
    trace.format = r.format;
    // A timed run starts at cycle 0, whenever recording started.
    trace.in_cycles = qrn::internal::timed_run();
    trace.start_ns = trace.in_cycles ? 0 : relative(r.start_ns);
    threads = r.threads;
  }
  qrn::internal::set_tracing(false);
  std::uint64_t end = qrn::internal::timed_run() ? design_totals().cycles : now_ns();
  const std::uint64_t cut = r.cut_ns.load(std::memory_order_relaxed);
  trace.cut = cut <= end;
  end = std::min(end, cut);
  trace.end_ns = relative(end);
  trace.limit = r.limit;
  for (thread_trace* t : threads) {
    traced_thread thread;
    thread.ordinal = t->ordinal;
    thread.name = thread_name(*t);
    thread.component = t->record != nullptr;
    thread.events = events_of(*t, end);
    trace.events += thread.events.size();
    trace.threads.push_back(std::move(thread));
  }
  {
    qrn::internal::stream_registry_state& registry = qrn::internal::stream_registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (stream_info* stream = registry.head; stream != nullptr; stream = stream->next()) {
      trace.stream_names[stream->serial()] = stream_name(*stream);
    }
  }
  {
    std::lock_guard<std::mutex> lock(r.mutex);
    trace.stream_names.insert(r.destroyed.begin(), r.destroyed.end());
    r.active.store(false, std::memory_order_release);
  }
  const bool written = write_trace_file(file, trace);
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    std::fprintf(stderr, "qrn: could not write the trace to %s (%s)\n", path.c_str(),
                 origin.c_str());
  } else if (trace.cut) {
    std::fprintf(stderr,
                 "qrn: trace cut at %s s, after %llu events (QRN_TRACE_LIMIT=%llu); %s ends "
                 "there\n",
                 seconds_text(trace.end_ns).c_str(), static_cast<unsigned long long>(trace.events),
                 static_cast<unsigned long long>(trace.limit), path.c_str());
  }
}

}  // namespace qrn_runtime

namespace qrn {

bool trace_to(const std::string& path) {
  return qrn_runtime::start_trace(path, "qrn::trace_to", "qrn::trace_to(" + path + ")");
}

}  // namespace qrn
