// The registry of live streams and each stream's statistics, for the
// diagnostics of a run (see HLS/diagnostics.h).
//
// Every stream owns one `stream_info`, its last member: constructing it
// registers the stream, destroying it retires the stream (the registry keeps
// a short account of a destroyed stream that was used, for the report). The
// statistics are plain counters guarded by the stream's own mutex, updated
// by operations that hold it anyway; the registry list is guarded by the
// registry's mutex. A reader of the registry takes the registry's mutex
// first and then a stream's mutex, only with try_lock; stream operations
// never take the registry's mutex, so the two never wait on each other.
//
// The state is reached through inline functions whose statics have vague
// linkage, so a program and a shared emulation runtime share one copy.
#ifndef QRN_HLS_INTERNAL_STREAM_REGISTRY_H
#define QRN_HLS_INTERNAL_STREAM_REGISTRY_H

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <sstream>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "HLS/internal/declaration_site.h"
#include "HLS/internal/depth.h"
#include "HLS/internal/diagnostic_hooks.h"
#include "HLS/internal/names.h"
#include "HLS/internal/process_exit.h"
#include "HLS/internal/properties.h"
#include "HLS/internal/stream_endpoints.h"
#include "HLS/internal/timed_run.h"
#include "HLS/internal/trace.h"

namespace qrn {
namespace internal {

class stream_abstract_base;

// Counters of one stream; guarded by the stream's mutex.
struct stream_stats {
  std::uint64_t written = 0;    // elements appended
  std::uint64_t read = 0;       // elements taken
  std::uint64_t peak = 0;       // largest number of elements held at once
  std::uint64_t asleep_ns = 0;  // time readers slept in blocking reads of it
};

// What a stream holds at one moment; filled under the stream's mutex.
struct stream_contents {
  std::uint64_t occupancy = 0;
  unsigned int sleepers = 0;  // readers asleep in a blocking read of it
  bool printable = false;     // its element type has an operator<<
  std::string first_values;   // the oldest few elements, ", "-separated, when printable
};

// The oldest `count` elements of `queue`, ", "-separated, when `T` can be
// written to a std::ostream; nothing otherwise.
template <typename T, typename = void>
struct element_printer {
  static constexpr bool printable = false;
  template <typename Queue>
  static std::string first(const Queue&, std::size_t) {
    return {};
  }
};

template <typename T>
struct element_printer<T,
                       decltype(void(std::declval<std::ostream&>() << std::declval<const T&>()))> {
  static constexpr bool printable = true;
  // `queue[i]` is its i-th oldest element.
  template <typename Queue>
  static std::string first(const Queue& queue, std::size_t count) {
    std::ostringstream text;
    for (std::size_t i = 0; i < count && i < queue.size(); ++i) {
      text << (i == 0 ? "" : ", ") << queue[i];
    }
    return text.str();
  }
};

// How many elements a report shows of a stream that still holds some.
constexpr std::size_t shown_leftover_elements = 4;

// Sideband written to a stream that declares interface properties without the
// ones that carry it: the hardware interface would drop it.
struct dropped_sideband {
  bool packet_flags = false;  // start/end-of-packet true without usesPackets<true>
  bool empty_counts = false;  // a nonzero empty count without usesEmpty<true>

  bool any() const { return packet_flags || empty_counts; }
};

class stream_info;

// A destroyed stream that was used (read, written, or written sideband its
// interface would drop), kept as it was for the report at the end of the run.
struct retired_stream {
  std::string name;
  std::string type;
  stream_stats stats;
  stream_contents contents;
  dropped_sideband dropped;
  stream_users users;
  std::uint64_t serial = 0;   // creation order, as stream_info::serial()
  std::uint64_t depth = 0;    // its configured depth (see depth.h); 0: none
  stream_cycle_stats cycles;  // in a timed run
};

struct stream_registry_state {
  std::mutex mutex;
  stream_info* head = nullptr;                     // guarded by mutex: live streams, newest first
  std::uint64_t created = 0;                       // guarded by mutex: streams constructed so far
  std::vector<retired_stream>* retired = nullptr;  // guarded by mutex; never freed
};

inline stream_registry_state& stream_registry() {
  static stream_registry_state state;  // constant-initialised: no guard, no destructor
  return state;
}

// At most this many destroyed streams are kept for the end-of-run report.
constexpr std::size_t retired_stream_limit = 256;

// A stream's entry in the registry and its statistics.
class stream_info {
 public:
  // Fills `contents`; requires the stream's mutex.
  using contents_fn = void (*)(const stream_abstract_base&, stream_contents&);

  stream_info(const stream_abstract_base& stream, std::mutex& stream_mutex,
              const std::type_info& type, const std::type_info& element_type,
              std::size_t object_size, contents_fn fill_contents, declaration_site site)
      : stream_(&stream),
        mutex_(&stream_mutex),
        type_(&type),
        element_type_(&element_type),
        object_size_(object_size),
        contents_(fill_contents),
        ordinal_at_site_(site_ordinal(site)),
        site_(site) {
    // The end-of-run report runs from the exit handler, also in programs
    // that launch no component.
    static const bool exit_handler_installed = install_exit_handler();
    (void)exit_handler_installed;
    stream_registry_state& registry = stream_registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    serial_ = ++registry.created;
    next_ = registry.head;
    if (next_ != nullptr) {
      next_->prev_ = this;
    }
    registry.head = this;
  }

  // Unregisters the stream; one that was read or written is kept, in short,
  // for the end-of-run report. Runs before the stream's queues are
  // destroyed (this is the stream's last member).
  ~stream_info() {
    if (timing_ != nullptr) {
      timed_ops().release(*this);
    }
    end_site_run();
    trace_stream_destroyed(*this);
    stream_registry_state& registry = stream_registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (void (*note)(const stream_info&) = diagnostic_hooks().stream_destroyed.load()) {
      note(*this);
    }
    (prev_ != nullptr ? prev_->next_ : registry.head) = next_;
    if (next_ != nullptr) {
      next_->prev_ = prev_;
    }
    retire(registry);
  }

  stream_info(const stream_info&) = delete;
  stream_info& operator=(const stream_info&) = delete;

  // ---- Hot path: called by stream operations with the stream's mutex held --
  // An element was written; the stream now holds `held` elements.
  void note_written(std::uint64_t held) {
    ++stats_.written;
    if (held > stats_.peak) {
      stats_.peak = held;
    }
    endpoints_.saw_writer(current_always_run_record());
  }
  void note_read() {
    ++stats_.read;
    note_reader();
  }
  // The calling thread reads the stream, or tries to (an empty tryRead, a
  // blocking read about to wait).
  void note_reader() { endpoints_.saw_reader(current_always_run_record()); }
  void note_slept(std::uint64_t ns) { stats_.asleep_ns += ns; }
  // The stream's depth (see depth.h); requires the stream's mutex.
  stream_depth& depth() { return depth_; }
  // True when the stream holds as many elements as its depth allows (never
  // when unbounded); requires the stream's mutex.
  bool full() const { return depth_.full(stats_.written - stats_.read); }
  const stream_depth& depth() const { return depth_; }
  // In a timed run: the runtime's timestamps of this stream (created on its
  // first timed operation) and its cycle statistics. Main thread only.
  void*& timing() { return timing_; }
  stream_cycle_stats& cycle_stats() { return cycles_; }
  const stream_cycle_stats& cycle_stats() const { return cycles_; }

  // An element was written with packet flags (`flags`: sop or eop true) or a
  // nonzero empty count (`count`); only called then.
  void note_sideband(bool flags, bool count) {
    if (declared_.any) {
      dropped_.packet_flags = dropped_.packet_flags || (flags && !declared_.uses_packets);
      dropped_.empty_counts = dropped_.empty_counts || (count && !declared_.uses_empty);
    }
  }

  // ---- Interface properties (the stream's mutex must be held) --------------
  void declare(const declared_properties& declared) { declared_ = declared; }
  const declared_properties& declared() const { return declared_; }
  const dropped_sideband& dropped() const { return dropped_; }

  // ---- Names -----------------------------------------------------------------
  // Sets the display name. Thread-safe.
  void set_name(std::string name) {
    std::lock_guard<std::mutex> lock(stream_registry().mutex);
    name_ = std::move(name);
  }
  // The stream's type as the program spells it (`qrn::stream_in<int>`).
  // Derived interfaces set theirs in their constructors. Thread-safe.
  void set_type(const std::type_info& type) {
    std::lock_guard<std::mutex> lock(stream_registry().mutex);
    type_ = &type;
  }

  // ---- Readers (hold the registry's mutex) --------------------------------
  stream_info* next() const { return next_; }
  const stream_abstract_base& stream() const { return *stream_; }
  std::mutex& mutex() const { return *mutex_; }
  const std::type_info& type() const { return *type_; }
  const std::type_info& element_type() const { return *element_type_; }
  std::size_t object_size() const { return object_size_; }
  std::uint64_t serial() const { return serial_; }
  const std::string& name() const { return name_; }
  // Where the stream was constructed, and how many streams its thread had
  // constructed there just before (see site_ordinal()); fixed at construction.
  const declaration_site& site() const { return site_; }
  unsigned int ordinal_at_site() const { return ordinal_at_site_; }
  // Requires the stream's mutex.
  const stream_stats& stats() const { return stats_; }
  // Its readers and writers seen so far; requires the stream's mutex.
  stream_users endpoints() const { return endpoints_.users(); }
  // See stream_endpoints::sole_reader; requires the stream's mutex.
  bool sole_reader(const always_run_record*& who) const { return endpoints_.sole_reader(who); }
  bool sole_writer(const always_run_record*& who) const { return endpoints_.sole_writer(who); }
  void contents(stream_contents& into) const { contents_(*stream_, into); }

  // Caches a name found for the stream (see diagnostics); the registry's
  // mutex must be held.
  void set_found_name(std::string name) { name_ = std::move(name); }
  bool name_searched() const { return name_searched_; }
  void mark_name_searched() { name_searched_ = true; }

  // The name to show: the stream's own, or `stream<ELEMENT>#SERIAL`. The
  // registry's mutex must be held.
  std::string display_name() const {
    if (!name_.empty()) {
      return name_;
    }
    return "stream<" + demangled(element_type_->name()) + ">#" + std::to_string(serial_);
  }

 private:
  // Requires the registry's mutex. The stream's mutex is only tried: a
  // thread that ends the process may hold it for good.
  void retire(stream_registry_state& registry) noexcept {
    if ((registry.retired != nullptr && registry.retired->size() >= retired_stream_limit) ||
        !mutex_->try_lock()) {
      return;
    }
    try {
      std::lock_guard<std::mutex> stream_lock(*mutex_, std::adopt_lock);
      stream_users users = endpoints();
      if (!users.reader_seen && !users.writer_seen) {
        return;  // never used
      }
      if (void (*find_name)(stream_info&) = diagnostic_hooks().find_stream_name.load()) {
        find_name(*this);
      }
      if (registry.retired == nullptr) {
        registry.retired = new std::vector<retired_stream>;
      }
      retired_stream account{display_name(), demangled(type_->name()), stats_,  {},
                             dropped_,       std::move(users),         serial_, depth_.configured,
                             cycles_};
      contents(account.contents);
      registry.retired->push_back(std::move(account));
    } catch (...) {  // out of memory: the account is only lost
    }
  }

  const stream_abstract_base* stream_;
  std::mutex* mutex_;
  const std::type_info* type_;  // guarded by the registry's mutex
  const std::type_info* element_type_;
  std::size_t object_size_;
  contents_fn contents_;
  stream_info* prev_ = nullptr;   // guarded by the registry's mutex
  stream_info* next_ = nullptr;   // guarded by the registry's mutex
  std::uint64_t serial_ = 0;      // creation order, from 1
  std::string name_;              // guarded by the registry's mutex; empty: not named yet
  bool name_searched_ = false;    // guarded by the registry's mutex
  unsigned int ordinal_at_site_;  // in the padding after name_searched_
  stream_stats stats_;            // guarded by the stream's mutex
  stream_depth depth_;            // guarded by the stream's mutex
  declaration_site site_;
  declared_properties declared_;  // guarded by the stream's mutex
  dropped_sideband dropped_;      // guarded by the stream's mutex
  stream_endpoints endpoints_;    // guarded by the stream's mutex
  // A timed run's (see timing()), after everything an untimed operation touches.
  void* timing_ = nullptr;
  stream_cycle_stats cycles_;
};

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_STREAM_REGISTRY_H
