// Stream channels for the x86-64 emulation of HLS components.
//
// `qrn::internal::stream<T>` is an unbounded FIFO of elements of type T, each
// carried with its packet sideband (start-of-packet, end-of-packet, empty-symbol
// count). Any number of threads may use one stream at once:
//
// - Every operation that reads or changes the stored elements holds the
//   stream's mutex `m_` from start to end; elements leave in the order in
//   which their writers acquired `m_`.
// - Writes block only on a stream with a depth (see HLS/internal/depth.h):
//   a full one makes a write wait for room and a tryWrite return false; by
//   default every stream is unbounded. `tryRead` never blocks.
// - `read(true)` on an empty stream polls for a few microseconds
//   (`read_spin_limit`), then sleeps on `cv_` until an element is there
//   (see HLS/internal/stream_waits.h); `read(false)` on an empty stream, a
//   peek of an empty stream and a by-pointer read of an empty stream are
//   fatal.
// - `m_` is taken with a few try_lock attempts before an ordinary lock(), and
//   a write notifies `cv_` only when a reader sleeps on it that no earlier
//   write has woken yet, so an uncontended stream makes no system call.
// - Poll points: a tryRead, tryPeek or empty() on a component's thread (or
//   fiber) that finds the stream empty logs it, and so does a tryWrite or
//   full() that finds it full; a component whose polls keep finding nothing
//   parks until a write (or a read, for room) reaches a logged stream (see
//   HLS/internal/stream_polls.h and parking.h). A write to a stream that no
//   component is parked on pays one test of `parked_pollers_`.
// - While a trace is recorded (see HLS/internal/trace.h), every change of
//   the occupancy is reported with `m_` held, and a reader reports when it
//   starts polling an empty stream, falls asleep and wakes; with tracing off
//   each of these costs one test of a flag.
// - A write with sop, eop or a nonzero empty count notes it in the stream's
//   registry entry, which keeps it only when the stream declared interface
//   properties that would drop it (see HLS/internal/properties.h).
// - Each stream records the file and line that constructed it (a defaulted
//   constructor argument), for its diagnostic name.
// - With QRN_SCHEDULE=fibers (see HLS/internal/scheduler.h) only the main
//   thread uses streams and no operation takes `m_`; where a thread would
//   wait (a blocking read of an empty stream) or the test bench finds a
//   stream empty, the operation asks the fiber scheduler to run components;
//   a plain read or write that wakes no one takes the short path (see
//   HLS/internal/stream_short_path.h).
// - With QRN_TIME=cycles (see HLS/internal/timed_run.h and
//   stream_timed_hooks.h), reads, writes and the non-blocking tests also
//   tell the runtime, which stamps each element with the cycle it becomes
//   readable; a non-blocking operation then sees only elements readable at
//   the caller's clock, and a tryWrite is refused when its element would
//   enter a full FIFO.
// - Operations that reuse another virtual operation call it through the
//   dispatch table, so that a derived class's override is the one used.
// - `_internal_cosim_empty()`, `get_size()` and the timing model take no lock;
//   callers must not let them overlap with an operation that changes the
//   stream (timing: with any timing call on a stream of the same type).
//
// No operation holds the locks of two streams, and no operation calls out of
// the library while it holds `m_`.
#ifndef QRN_HLS_HLS_INTERNAL_H
#define QRN_HLS_HLS_INTERNAL_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <typeinfo>
#include <utility>

#include "HLS/internal/activity.h"
#include "HLS/internal/component_stop.h"
#include "HLS/internal/depth.h"
#include "HLS/internal/diagnostic_hooks.h"
#include "HLS/internal/parking.h"
#include "HLS/internal/process_exit.h"
#include "HLS/internal/scheduler.h"
#include "HLS/internal/spin.h"
#include "HLS/internal/stream_polls.h"
#include "HLS/internal/stream_registry.h"
#include "HLS/internal/stream_ring.h"
#include "HLS/internal/stream_short_path.h"
#include "HLS/internal/stream_stall_model.h"
#include "HLS/internal/stream_stop.h"
#include "HLS/internal/stream_timed_hooks.h"
#include "HLS/internal/stream_waiter_lists.h"
#include "HLS/internal/stream_waits.h"
#include "HLS/internal/timed_run.h"
#include "HLS/internal/trace.h"

// Enqueue marker of the emulation runtime. Every translation unit that
// includes this header carries a weak definition; the linker keeps one.
// Programs export it (link with ENABLE_EXPORTS / -rdynamic) so that the
// runtime library can refer to it. Nothing in this library reads it.
extern "C" {
__attribute__((weak)) void* __qrn_enqueue_handle = nullptr;
}

// Reports misuse that cannot be emulated: prints "Error: <msg>" on standard
// output and ends the process with status 1. When another thread is already
// ending the process, this one prints nothing and waits for that ending.
[[noreturn]] __attribute__((visibility("hidden"))) inline void __qrn_hls_runtime_error_x86(
    const char* msg) {
  const bool newly_claimed = qrn::internal::claim_process_ending();
  const qrn::internal::stream_info* misused = qrn::internal::fatal_stream_use();
  void (*describe)(const qrn::internal::stream_info&) =
      qrn::internal::diagnostic_hooks().describe_fatal_use.load();
  if (misused != nullptr && describe != nullptr) {
    describe(*misused);
  }
  std::printf("Error: %s\n", msg);
  std::fflush(stdout);
  qrn::internal::end_process_after_error(1, newly_claimed);
}

// The streams have virtual operations and, by design, no virtual destructor:
// their dispatch table is fixed (slot 0 is _internal_cosim_empty), and no
// stream is deleted through a pointer to a base. -Wnon-virtual-dtor would
// report every stream class; it is off in this file and in hls.h.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace qrn {
namespace internal {

constexpr const char* empty_read_message =
    "Cannot do a blocking read from an empty stream on an x86 target";

// Untyped view of a stream, as a co-simulation harness holds it. Slots 0 to 10
// of every stream's dispatch table.
class stream_abstract_base {
 public:
  stream_abstract_base() : stream_abstract_base(0) {}
  // The parameter is named after the field it sets, which -Wshadow reports.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
  explicit stream_abstract_base(std::size_t data_size) : data_size(data_size) {}
#pragma GCC diagnostic pop

  bool is_stable() const { return stable; }
  void set_stable() { stable = true; }
  bool is_implicit() const { return implicit; }
  bool is_global() const { return global; }
  void set_implicit() { implicit = true; }
  void set_global() { global = true; }
  std::size_t get_data_size() const { return data_size; }
  void set_data_size(std::size_t size) { data_size = size; }
  unsigned int get_average_stall() const { return m_average_stall; }
  unsigned int get_stall_delta() const { return m_stall_delta; }
  unsigned int get_average_RoV() const { return m_average_RoV; }
  unsigned int get_RoV_delta() const { return m_RoV_delta; }

  virtual bool _internal_cosim_empty() = 0;
  virtual void read_by_ptr(void* data) = 0;
  virtual void read_by_ptr_pkt(void* data, bool* sop, bool* eop) = 0;
  virtual void read_by_ptr_pkt_e(void* data, bool* sop, bool* eop, void* empty) = 0;
  virtual void write_by_ptr(void* data) = 0;
  virtual void write_by_ptr_pkt(void* data, bool* sop, bool* eop) = 0;
  virtual void write_by_ptr_pkt_e(void* data, bool* sop, bool* eop, void* empty) = 0;
  virtual void front_by_ptr(void* data) = 0;
  virtual void front_by_ptr_pkt(void* data, bool* sop, bool* eop) = 0;
  virtual void front_by_ptr_pkt_e(void* data, bool* sop, bool* eop, void* empty) = 0;
  virtual std::size_t get_size() = 0;

 private:
  bool stable = false;
  bool implicit = false;
  bool global = false;
  std::size_t data_size;

 protected:
  // Timing model, in cycles; see stream_stall_model.h.
  unsigned int m_average_stall = 0;
  unsigned int m_stall_delta = 0;
  unsigned int m_average_RoV = 1;
  unsigned int m_RoV_delta = 0;
  unsigned int m_remaining_period = 1;  // drawn stall + m_period_threshold
  unsigned int m_period_threshold = 1;  // drawn ready/valid period
};

// Reports a read of the empty stream `info` that cannot wait.
[[noreturn]] inline void fail_empty_read(const stream_info& info) {
  fatal_stream_use() = &info;
  __qrn_hls_runtime_error_x86(empty_read_message);
}

// Thread-safe FIFO channel. Its elements, each with its sideband
// (start-of-packet, end-of-packet, empty-symbol count), are stored in one
// ring (see stream_ring.h), which a bounded stream's never grows past its
// depth. Each concern of an operation beyond moving the element is a mixin
// of its own, holding no state: the blocking waits (stream_waits.h), the
// poll points of the operations that do not wait (stream_polls.h), the
// lists parked waiters link into (stream_waiter_lists.h), the hooks of a
// timed run (stream_timed_hooks.h), the test bench's stall model
// (stream_stall_model.h) and the stopping of the stream's users when it is
// destroyed (stream_stop.h). Every state they act on is a member of this
// class, listed at its end with the lock that guards it (the stall model's,
// of stream_abstract_base).
template <typename T, typename... Params>
class stream : public stream_abstract_base,
               public stream_stall_model<stream<T, Params...>>,
               protected stream_waits<stream<T, Params...>>,
               protected stream_polls<stream<T, Params...>, T>,
               protected stream_waiter_lists<stream<T, Params...>>,
               protected stream_timed_hooks<stream<T, Params...>, T>,
               protected stream_stop<stream<T, Params...>> {
  friend class stream_stall_model<stream>;
  friend class stream_waits<stream>;
  friend class stream_polls<stream, T>;
  friend class stream_waiter_lists<stream>;
  friend class stream_timed_hooks<stream, T>;
  friend class stream_stop<stream>;

 public:
  // `site` records where the stream is declared, for its diagnostic name;
  // leave it to its default.
  stream(declaration_site site = declaration_site::here())
      : stream_abstract_base(sizeof(T)),
        info_{*this, m_, typeid(stream), typeid(T), sizeof(stream), &stream::contents_of, site} {
    configure_stream_depth(info_);
  }
  // A stream shown as `name` in diagnostics (otherwise the name of its
  // variable when it has static storage duration, else the identifier or
  // file and line of its declaration, else `stream<T>#N`).
  explicit stream(const char* name, declaration_site site = declaration_site::here())
      : stream(site) {
    set_name(name);
  }
  stream(const stream&) = delete;
  stream& operator=(const stream&) = delete;
  // Stops the components that used this stream (see stream_stop.h); a
  // component thread that found it empty forgets it (see parking.h). Not
  // virtual: the dispatch table does not change.
  ~stream() {
    this->stop_users();
    forget_polled_stream(this);
  }

  // Sets the name diagnostics show for this stream. Thread-safe.
  // A depth given to that name (QRN_DEPTH_OVERRIDE) applies from now on.
  void set_name(const std::string& name) {
    info_.set_name(name);
    configure_stream_depth(info_);
  }

  // ---- Co-simulation queries (no lock) --------------------------------------
  bool _internal_cosim_empty() override { return ring_.empty(); }
  std::size_t get_size() override { return ring_.size(); }

  // ---- Co-simulation by-pointer access (no lock of their own) ---------------
  // `data` points at one T, `sop`/`eop` at one bool each, `empty` at one int.
  void read_by_ptr(void* data) override {
    T elem = read(false);
    *static_cast<T*>(data) = elem;
  }
  void read_by_ptr_pkt(void* data, bool* sop, bool* eop) override {
    T elem = read(*sop, *eop, false);
    *static_cast<T*>(data) = elem;
  }
  void read_by_ptr_pkt_e(void* data, bool* sop, bool* eop, void* empty) override {
    int temp_empty;
    T elem = read(*sop, *eop, temp_empty, false);
    *static_cast<T*>(data) = elem;
    *static_cast<int*>(empty) = temp_empty;
  }
  void write_by_ptr(void* data) override {
    T elem = *static_cast<const T*>(data);
    write(elem);
  }
  void write_by_ptr_pkt(void* data, bool* sop, bool* eop) override {
    T elem = *static_cast<const T*>(data);
    write(elem, *sop, *eop);
  }
  void write_by_ptr_pkt_e(void* data, bool* sop, bool* eop, void* empty) override {
    T elem = *static_cast<const T*>(data);
    int temp_empty = *static_cast<const int*>(empty);
    write(elem, *sop, *eop, temp_empty);
  }
  void front_by_ptr(void* data) override {
    T elem = _internal_cosim_front();
    *static_cast<T*>(data) = elem;
  }
  void front_by_ptr_pkt(void* data, bool* sop, bool* eop) override {
    T elem = _internal_cosim_front(*sop, *eop);
    *static_cast<T*>(data) = elem;
  }
  void front_by_ptr_pkt_e(void* data, bool* sop, bool* eop, void* empty) override {
    int temp_empty;
    T elem = _internal_cosim_front(*sop, *eop, temp_empty);
    *static_cast<T*>(data) = elem;
    *static_cast<int*>(empty) = temp_empty;
  }

  // ---- Plain operations ------------------------------------------------------
  // Takes the oldest element; an empty stream makes `read(true)` sleep until a
  // write and `read(false)` fatal. Thread-safe.
  __attribute__((always_inline)) virtual T read(bool wait = true) {
    if (short_read_applies(ring_, info_)) {
      return take_on_short_path(ring_, info_);
    }
    return read_in_general(wait);
  }
  // Appends `arg` with sideband (false, false, 0); waits for room while the
  // stream is full. Thread-safe. The plain operations inline where they are
  // called directly: their short path is a few instructions.
  __attribute__((always_inline)) virtual void write(const T& arg) {
    if (short_write_applies(ring_, info_, parked_pollers_)) {
      append_on_short_path(ring_, arg, info_);
      return;
    }
    if (timed_run()) {
      this->write_in_timed_run(arg);
      return;
    }
    append<true>(arg, packet_sideband());
  }
  // Takes the oldest element if there is one; otherwise sets `success` false
  // and returns T(). Never blocks. Thread-safe.
  __attribute__((always_inline)) virtual T tryRead(bool& success) {
    if (short_read_applies(ring_, info_)) {
      success = true;
      return take_on_short_path(ring_, info_);
    }
    return try_read_in_general(success);
  }
  // Writes through the dispatch table and returns true; on a full stream
  // changes nothing and returns false. Never blocks. Thread-safe.
  virtual bool tryWrite(const T& arg) {
    return this->write_unless_full([&] { write(arg); });
  }

  // ---- Sideband operations ---------------------------------------------------
  virtual T read(bool& sop, bool& eop, bool wait = true) {
    std::unique_lock<std::mutex> lock = lock_m();
    this->await_element(lock, wait);
    return take_front(sop, eop);
  }
  virtual T read(bool& sop, bool& eop, int& empty, bool wait = true) {
    std::unique_lock<std::mutex> lock = lock_m();
    this->await_element(lock, wait);
    return take_front(sop, eop, empty);
  }
  virtual void write(const T& arg, bool sop, bool eop) { append(arg, {sop, eop, 0}); }
  virtual void write(const T& arg, bool sop, bool eop, int empty) {
    append(arg, {sop, eop, empty});
  }
  // On failure `sop` and `eop` keep the caller's values.
  virtual T tryRead(bool& success, bool& sop, bool& eop) {
    std::unique_lock<std::mutex> lock = lock_m();
    success = this->holds_element_for_poll();
    if (!success) {
      return this->empty_poll_result(lock);
    }
    return take_front(sop, eop);
  }
  // On failure `sop`, `eop` and `empty` keep the caller's values.
  virtual T tryRead(bool& success, bool& sop, bool& eop, int& empty) {
    std::unique_lock<std::mutex> lock = lock_m();
    success = this->holds_element_for_poll();
    if (!success) {
      return this->empty_poll_result(lock);
    }
    return take_front(sop, eop, empty);
  }
  virtual bool tryWrite(const T& arg, bool sop, bool eop) {
    return this->write_unless_full([&] { write(arg, sop, eop); });
  }
  virtual bool tryWrite(const T& arg, bool sop, bool eop, int empty) {
    return this->write_unless_full([&] { write(arg, sop, eop, empty); });
  }

  // ---- Timing model (no lock; see the file comment) --------------------------
  // Set the parameters of the stall model and draw a new period; stall(),
  // setStallPeriod() and msws() come from stream_stall_model.h.
  virtual void setStallCycles(unsigned int average_stall, unsigned int stall_delta) {
    m_average_stall = average_stall;
    m_stall_delta = stall_delta;
    this->setStallPeriod();
  }
  virtual void setReadyorValidCycles(unsigned int average_RoV, unsigned int RoV_delta) {
    m_average_RoV = average_RoV;
    m_RoV_delta = RoV_delta;
    this->setStallPeriod();
  }

  // ---- Peeks: the head element, left in place; fatal on an empty stream -----
  T _internal_cosim_front() {
    std::unique_lock<std::mutex> lock = lock_m();
    this->require_element();
    return ring_.front();
  }
  T _internal_cosim_front(bool& sop, bool& eop) {
    std::unique_lock<std::mutex> lock = lock_m();
    this->require_element();
    T elem = ring_.front();
    assign_front_flags(sop, eop);
    return elem;
  }
  T _internal_cosim_front(bool& sop, bool& eop, int& empty) {
    std::unique_lock<std::mutex> lock = lock_m();
    this->require_element();
    T elem = ring_.front();
    assign_front_sideband(sop, eop, empty);
    return elem;
  }

  // ---- Non-blocking peeks: the head element, left in place -----------------
  // Not virtual (the dispatch table does not change); stream_in and
  // stream_out inherit them. On an empty stream they set `success` false,
  // leave the sideband arguments alone, count as an empty poll as tryRead
  // does (so a component that only peeks parks until a write) and return
  // T(). A successful peek moves nothing. Never block. Thread-safe.
  T tryPeek(bool& success) {
    std::unique_lock<std::mutex> lock = lock_m();
    success = this->holds_element_for_poll();
    if (!success) {
      return this->empty_poll_result(lock);
    }
    return ring_.front();
  }
  T tryPeek(bool& success, bool& sop, bool& eop) {
    std::unique_lock<std::mutex> lock = lock_m();
    success = this->holds_element_for_poll();
    if (!success) {
      return this->empty_poll_result(lock);
    }
    assign_front_flags(sop, eop);
    return ring_.front();
  }
  T tryPeek(bool& success, bool& sop, bool& eop, int& empty) {
    std::unique_lock<std::mutex> lock = lock_m();
    success = this->holds_element_for_poll();
    if (!success) {
      return this->empty_poll_result(lock);
    }
    assign_front_sideband(sop, eop, empty);
    return ring_.front();
  }

  // ---- Non-blocking tests: whether a read or a write would wait ----------
  // Not virtual. An answer that means "wait" counts as an empty poll (empty)
  // or a refused write (full), as tryRead and tryWrite would, so a component
  // that polls with them parks until the stream changes. full() is false
  // unless the stream's depth is in force (see depth.h). Thread-safe.
  bool empty() {
    std::unique_lock<std::mutex> lock = lock_m();
    if (this->holds_element_for_poll()) {
      return false;
    }
    this->empty_poll_result(lock);
    return true;
  }
  bool full() {
    std::unique_lock<std::mutex> lock = lock_m();
    if (timed_run() ? this->timed_room()
                    : !info_.full() || (this->room_after_bench_poll() && !info_.full())) {
      return false;
    }
    if (lock.owns_lock()) {
      lock.unlock();
    }
    this->refused_write_result();
    return true;
  }

 protected:
  // Records the interface properties a derived interface declares, for the
  // diagnostics and the stream's depth; called by its constructor. Not
  // virtual. Thread-safe.
  void declare_properties(const declared_properties& declared) {
    {
      std::unique_lock<std::mutex> lock = lock_m();
      info_.declare(declared);
    }
    configure_stream_depth(info_);  // its depth follows buffer<N>
  }

 private:
  // ---- Reads: the general path, `m_` held ------------------------------------
  // The plain read and tryRead when the short path does not apply; an
  // ordinary timed read takes its element at once.
  __attribute__((noinline)) T read_in_general(bool wait) {
    if (this->ordinary_timed_read()) {
      return this->take_ordinary_timed();
    }
    std::unique_lock<std::mutex> lock = lock_m();
    this->await_element(lock, wait);
    return take_front();
  }
  __attribute__((noinline)) T try_read_in_general(bool& success) {
    std::unique_lock<std::mutex> lock = lock_m();
    success = this->holds_element_for_poll();
    if (!success) {
      return this->empty_poll_result(lock);
    }
    return take_front();
  }
  // Requires `m_` held and an element present; removes it with its sideband.
  // A throwing copy of the element leaves the stream and the arguments as
  // they were.
  __attribute__((always_inline)) T take_front() {
    T elem = ring_.pop_front();
    note_taken();
    return elem;
  }
  // As take_front(), also handing out the element's flags.
  T take_front(bool& sop, bool& eop) {
    const packet_sideband band = ring_.front_sideband();
    T elem = ring_.pop_front();
    sop = band.sop;
    eop = band.eop;
    note_taken();
    return elem;
  }
  // As take_front(), also handing out the element's count and flags.
  T take_front(bool& sop, bool& eop, int& empty) {
    const packet_sideband band = ring_.front_sideband();
    T elem = ring_.pop_front();
    empty = band.empty;
    sop = band.sop;
    eop = band.eop;
    note_taken();
    return elem;
  }
  // After an element left, `m_` held: the timed run, the statistics, a
  // waiting writer, the trace and the caller's moved count hear of it.
  __attribute__((always_inline)) void note_taken() {
    this->note_timed_read();
    info_.note_read();
    if (info_.depth().writers_asleep != 0 || info_.depth().room_pollers != nullptr) {
      wake_a_writer(info_.depth());
    }
    trace_occupancy(
        info_, [this] { return ring_.size(); }, false);
    ++moved_elements();
  }
  // Require `m_` held and an element present. The count comes first.
  void assign_front_sideband(bool& sop, bool& eop, int& empty) {
    empty = ring_.front_sideband().empty;
    assign_front_flags(sop, eop);
  }
  void assign_front_flags(bool& sop, bool& eop) {
    sop = ring_.front_sideband().sop;
    eop = ring_.front_sideband().eop;
  }

  // ---- Writes: the general path, `m_` held -----------------------------------
  // Waits for room while the stream is full (or returns at once, unchanged,
  // when a tryWrite is refused); then appends one element with its sideband,
  // or nothing if the append throws, and wakes one sleeping reader that no
  // earlier write has woken yet and every parked poller. The wake-ups are
  // sent before `m_` is released: once a reader can take the element (and
  // perhaps destroy the stream), the write touches nothing.
  // `Plain`: a write without sideband, whose band is the default.
  template <bool Plain = false>
  __attribute__((noinline)) void append(const T& arg, const packet_sideband& band) {
    {
      std::unique_lock<std::mutex> lock = lock_m();
      if (!admit_write(lock)) {
        return;
      }
      try {
        ring_.push_back(arg, band, info_.depth().capacity, &info_);
      } catch (...) {
        this->forget_timed_write();
        throw;
      }
      info_.note_written(ring_.size());
      if (!Plain && (band.sop || band.eop || band.empty != 0)) {
        info_.note_sideband(band.sop || band.eop, band.empty != 0);
      }
      trace_occupancy(
          info_, [this] { return ring_.size(); }, true);
      this->wake_a_reader();
      if (parked_pollers_ != nullptr) {
        wake_parked_pollers(parked_pollers_);
      }
    }
    ++moved_elements();
  }

  // Whether the write may append: it waits for room while the stream is full
  // (and, timed, takes the cycle its element enters); false when a tryWrite
  // is refused.
  __attribute__((always_inline)) bool admit_write(std::unique_lock<std::mutex>& lock) {
    return timed_run() ? this->admit_timed_write(lock) : !at_depth() || this->wait_for_room(lock);
  }
  // The stream holds as many elements as its depth allows (never when
  // unbounded).
  bool at_depth() const { return ring_.size() >= info_.depth().capacity; }

  // ---- The lock and the diagnostics ------------------------------------------
  // Locks `m_`, spinning briefly before sleeping on it; with fibers, leaves
  // it unlocked (see stream_lock_elided).
  __attribute__((always_inline)) std::unique_lock<std::mutex> lock_m() {
    if (stream_lock_elided(info_)) {
      return {m_, std::defer_lock};
    }
    lock_spinning(m_);
    return {m_, std::adopt_lock};
  }
  // Fills `into` for the diagnostics; requires the stream's mutex.
  static void contents_of(const stream_abstract_base& base, stream_contents& into) {
    const auto& self = static_cast<const stream&>(base);
    into.occupancy = self.ring_.size();
    into.sleepers = self.sleepers_;
    into.printable = element_printer<T>::printable;
    into.first_values = element_printer<T>::first(self.ring_, shown_leftover_elements);
  }

  stream_ring<T> ring_;  // guarded by m_
  std::mutex m_;
  std::condition_variable cv_;  // readers wait here; writers on info_.depth().room_signal
  unsigned int sleepers_ = 0;   // guarded by m_: readers sleeping on cv_
  unsigned int woken_ = 0;      // guarded by m_: sleepers signalled and not yet awake; <= sleepers_
  unsigned int waiters_ = 0;  // guarded by m_: readers and writers waiting in it, polling or asleep
  bool doomed_ = false;       // guarded by m_: being destroyed; waiting threads halt
  bool users_stopped_ = false;  // destroying thread only: stop_users() has run

 protected:
  // Registry entry and statistics (stats guarded by m_). Last member with a
  // destructor: it is destroyed first, while the queues still exist.
  stream_info info_;

 private:
  poll_site* parked_pollers_ = nullptr;  // guarded by m_: components parked until a write
};

}  // namespace internal
}  // namespace qrn

#pragma GCC diagnostic pop

#endif  // QRN_HLS_HLS_INTERNAL_H
