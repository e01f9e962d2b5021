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
//   (`read_spin_limit`), then sleeps on `cv_` until an element is there;
//   `read(false)` on an empty stream, a peek of an empty stream and a
//   by-pointer read of an empty stream are fatal.
// - `m_` is taken with a few try_lock attempts before an ordinary lock(), and
//   a write notifies `cv_` only when a reader sleeps on it that no earlier
//   write has woken yet, so an uncontended stream makes no system call.
// - Poll points: a tryRead, tryPeek or empty() on a component's thread (or
//   fiber) that finds the stream empty logs it, and so does a tryWrite or
//   full() that finds it full; a component whose polls keep finding nothing
//   parks until a write (or a read, for room) reaches a logged stream (see
//   HLS/internal/parking.h). A write to a stream that no component is parked
//   on pays one test of `parked_pollers_`.
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
// - With QRN_TIME=cycles (see HLS/internal/timed_run.h), reads, writes and
//   the non-blocking tests also tell the runtime, which stamps each element
//   with the cycle it becomes readable; a non-blocking operation then sees
//   only elements readable at the caller's clock, and a tryWrite is refused
//   when its element would enter a full FIFO.
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
#include "HLS/internal/stream_registry.h"
#include "HLS/internal/stream_ring.h"
#include "HLS/internal/stream_short_path.h"
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
  // Timing model, in cycles; see stream<T>::setStallPeriod().
  unsigned int m_average_stall = 0;
  unsigned int m_stall_delta = 0;
  unsigned int m_average_RoV = 1;
  unsigned int m_RoV_delta = 0;
  unsigned int m_remaining_period = 1;  // drawn stall + m_period_threshold
  unsigned int m_period_threshold = 1;  // drawn ready/valid period
};

// Thread-safe FIFO channel. Its elements, each with its sideband
// (start-of-packet, end-of-packet, empty-symbol count), are stored in one
// ring (see stream_ring.h), which a bounded stream's never grows past its
// depth.
template <typename T, typename... Params>
class stream : public stream_abstract_base {
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
  // Stops the components that used this stream (see component_stop.h); a
  // component thread that found it empty forgets it (see parking.h). Not
  // virtual: the dispatch table does not change.
  ~stream() {
    stop_users();
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
    return write_unless_full([&] { write(arg); });
  }

  // ---- Sideband operations ---------------------------------------------------
  virtual T read(bool& sop, bool& eop, bool wait = true) {
    std::unique_lock<std::mutex> lock = lock_m();
    await_element(lock, wait);
    return take_front(sop, eop);
  }
  virtual T read(bool& sop, bool& eop, int& empty, bool wait = true) {
    std::unique_lock<std::mutex> lock = lock_m();
    await_element(lock, wait);
    return take_front(sop, eop, empty);
  }
  virtual void write(const T& arg, bool sop, bool eop) { append(arg, {sop, eop, 0}); }
  virtual void write(const T& arg, bool sop, bool eop, int empty) {
    append(arg, {sop, eop, empty});
  }
  // On failure `sop` and `eop` keep the caller's values.
  virtual T tryRead(bool& success, bool& sop, bool& eop) {
    std::unique_lock<std::mutex> lock = lock_m();
    success = holds_element_for_poll();
    if (!success) {
      return empty_poll_result(lock);
    }
    return take_front(sop, eop);
  }
  // On failure `sop`, `eop` and `empty` keep the caller's values.
  virtual T tryRead(bool& success, bool& sop, bool& eop, int& empty) {
    std::unique_lock<std::mutex> lock = lock_m();
    success = holds_element_for_poll();
    if (!success) {
      return empty_poll_result(lock);
    }
    return take_front(sop, eop, empty);
  }
  virtual bool tryWrite(const T& arg, bool sop, bool eop) {
    return write_unless_full([&] { write(arg, sop, eop); });
  }
  virtual bool tryWrite(const T& arg, bool sop, bool eop, int empty) {
    return write_unless_full([&] { write(arg, sop, eop, empty); });
  }

  // ---- Timing model (no lock; see the file comment) --------------------------
  virtual void setStallCycles(unsigned int average_stall, unsigned int stall_delta) {
    m_average_stall = average_stall;
    m_stall_delta = stall_delta;
    setStallPeriod();
  }
  virtual void setReadyorValidCycles(unsigned int average_RoV, unsigned int RoV_delta) {
    m_average_RoV = average_RoV;
    m_RoV_delta = RoV_delta;
    setStallPeriod();
  }

  // ---- Peeks: the head element, left in place; fatal on an empty stream -----
  T _internal_cosim_front() {
    std::unique_lock<std::mutex> lock = lock_m();
    require_element();
    return ring_.front();
  }
  T _internal_cosim_front(bool& sop, bool& eop) {
    std::unique_lock<std::mutex> lock = lock_m();
    require_element();
    T elem = ring_.front();
    assign_front_flags(sop, eop);
    return elem;
  }
  T _internal_cosim_front(bool& sop, bool& eop, int& empty) {
    std::unique_lock<std::mutex> lock = lock_m();
    require_element();
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
    success = holds_element_for_poll();
    if (!success) {
      return empty_poll_result(lock);
    }
    return ring_.front();
  }
  T tryPeek(bool& success, bool& sop, bool& eop) {
    std::unique_lock<std::mutex> lock = lock_m();
    success = holds_element_for_poll();
    if (!success) {
      return empty_poll_result(lock);
    }
    assign_front_flags(sop, eop);
    return ring_.front();
  }
  T tryPeek(bool& success, bool& sop, bool& eop, int& empty) {
    std::unique_lock<std::mutex> lock = lock_m();
    success = holds_element_for_poll();
    if (!success) {
      return empty_poll_result(lock);
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
    if (holds_element_for_poll()) {
      return false;
    }
    empty_poll_result(lock);
    return true;
  }
  bool full() {
    std::unique_lock<std::mutex> lock = lock_m();
    if (timed_run() ? timed_ops().room(timed_ref())
                    : !info_.full() || (room_after_bench_poll() && !info_.full())) {
      return false;
    }
    if (lock.owns_lock()) {
      lock.unlock();
    }
    refused_write_result();
    return true;
  }

  // One emulated cycle of the timing model: true while the drawn stall lasts,
  // then false for the drawn ready/valid window, after which the next period
  // is drawn. With the construction parameters it never stalls.
  bool stall() {
    if (m_remaining_period > m_period_threshold) {
      --m_remaining_period;
      return true;
    }
    if (m_remaining_period > 1) {
      --m_remaining_period;
    } else {
      setStallPeriod();
    }
    return false;
  }

  // Draws a new stall and ready/valid period (0, 1 or 2 draws, stall first).
  // All arithmetic is modulo 2^32.
  void setStallPeriod() {
    if (m_stall_delta == 0) {
      m_remaining_period = m_average_stall;
    } else {
      m_remaining_period = (m_average_stall - m_stall_delta) + msws() % (2 * m_stall_delta + 1);
    }
    if (m_RoV_delta == 0) {
      m_period_threshold = m_average_RoV;
    } else {
      m_period_threshold = (m_average_RoV - m_RoV_delta) + msws() % (2 * m_RoV_delta + 1);
    }
    m_remaining_period = m_remaining_period + m_period_threshold;
  }

  // Middle-square Weyl sequence. One sequence per element type, shared by all
  // streams of that type and never reseeded; not synchronised.
  unsigned int msws() {
    static unsigned long long x = 0;
    static unsigned long long w = 0;
    const unsigned long long s = 0xb5ad4eceda1ce2a9ULL;
    x *= x;
    w += s;
    x += w;
    x = (x >> 32) | (x << 32);
    return static_cast<unsigned int>(x);
  }

 private:
  // The plain read and tryRead when the short path does not apply.
  __attribute__((noinline)) T read_in_general(bool wait) {
    std::unique_lock<std::mutex> lock = lock_m();
    await_element(lock, wait);
    return take_front();
  }
  __attribute__((noinline)) T try_read_in_general(bool& success) {
    std::unique_lock<std::mutex> lock = lock_m();
    success = holds_element_for_poll();
    if (!success) {
      return empty_poll_result(lock);
    }
    return take_front();
  }
  // Requires `m_` held and an element present; removes it with its sideband.
  // A throwing copy of the element leaves the stream and the arguments as
  // they were.
  T take_front() {
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
    if (timed_run()) {
      timed_ops().read(timed_ref());
    }
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
  // Requires `m_` held: the stream holds as many elements as its depth
  // allows (never when unbounded).
  bool at_depth() const { return ring_.size() >= info_.depth().capacity; }
  // Requires `m_` held. Peeks never wait.
  void require_element() {
    if (!holds_element_for_poll()) {
      fail_empty_read();
    }
  }
  // Requires `m_` held: whether an operation that does not wait finds an
  // element. With fibers, the test bench that finds none first lets the
  // components run until a write reaches this stream or none can run.
  __attribute__((always_inline)) bool holds_element_for_poll() {
    if (!_internal_cosim_empty() && !timed_run()) {
      return true;
    }
    return holds_element_after_poll();
  }
  __attribute__((noinline)) bool holds_element_after_poll() {
    if (!_internal_cosim_empty()) {
      return timed_ops().readable(timed_ref());
    }
    const bool held = fiber_scheduling() && fiber_scheduler().poll_empty(this, poll_ops()) &&
                      !_internal_cosim_empty();
    return timed_run() ? timed_ops().readable(timed_ref()) : held;
  }
  // This stream as the runtime of a timed run sees it.
  timed_stream_ref timed_ref() { return {info_, this, &stall_of, sizeof(T) * 8}; }
  static bool stall_of(void* self) { return static_cast<stream*>(self)->stall(); }
  // Reports a read of this empty stream that cannot wait.
  [[noreturn]] void fail_empty_read() {
    fatal_stream_use() = &info_;
    __qrn_hls_runtime_error_x86(empty_read_message);
  }
  // Locks `m_`, spinning briefly before sleeping on it; with fibers, leaves
  // it unlocked (see stream_lock_elided).
  __attribute__((always_inline)) std::unique_lock<std::mutex> lock_m() {
    if (stream_lock_elided(info_)) {
      return {m_, std::defer_lock};
    }
    lock_spinning(m_);
    return {m_, std::adopt_lock};
  }
  // The result of a tryRead or tryPeek that found the stream empty: releases `m_`,
  // notes the stream for the diagnostics and, on a component's thread, in its
  // poll log (see parking.h), and backs off (see back_off_after_empty_poll)
  // before returning.
  T empty_poll_result(std::unique_lock<std::mutex>& lock) {
    info_.note_reader();
    if (lock.owns_lock()) {
      lock.unlock();
    }
    note_empty_poll(info_);
    log_empty_poll(this, poll_ops());
    trace_thread(&info_, trace_thread_state::polling);
    if (!fiber_scheduling()) {
      back_off_after_empty_poll();
    }
    halt_if_stopped();
    return T();
  }
  // The lists of waiters a stream keeps, each with the condition under which
  // a waiter stays in it: components parked until a write (`poll_ops`),
  // fibers or the bench waiting to write (`room_ops`), components parked
  // after a refused write (`room_poll_ops`).
  struct element_pollers {
    static constexpr bool for_room = false;
    static poll_site*& list(stream& s) { return s.parked_pollers_; }
    static bool waiting(stream& s) { return s._internal_cosim_empty(); }
  };
  struct fiber_writers {
    static constexpr bool for_room = true;
    static poll_site*& list(stream& s) { return s.info_.depth().fiber_writers; }
    static bool waiting(stream& s) { return s.info_.full(); }
  };
  struct room_pollers {
    static constexpr bool for_room = true;
    static poll_site*& list(stream& s) { return s.info_.depth().room_pollers; }
    static bool waiting(stream& s) { return s.info_.full(); }
  };
  // Links `site` into the `Waiters` list under `m_`; false, linking nothing,
  // when the stream no longer makes it wait.
  template <typename Waiters>
  static bool enlist(void* self, poll_site& site) {
    stream& s = *static_cast<stream*>(self);
    std::unique_lock<std::mutex> lock = s.lock_m();
    if (!Waiters::waiting(s)) {
      return false;
    }
    link_parked_poller(Waiters::list(s), site);
    return true;
  }
  template <typename Waiters>
  static void leave(void* self, poll_site& site) {
    stream& s = *static_cast<stream*>(self);
    std::unique_lock<std::mutex> lock = s.lock_m();
    unlink_parked_poller(Waiters::list(s), site);
  }
  static stream_info& info_of(void* self) { return static_cast<stream*>(self)->info_; }
  template <typename Waiters>
  static const poll_site_ops& waiter_ops() {
    static const poll_site_ops ops = {&enlist<Waiters>, &leave<Waiters>, &info_of,
                                      Waiters::for_room};
    return ops;
  }
  static const poll_site_ops& poll_ops() { return waiter_ops<element_pollers>(); }
  static const poll_site_ops& room_ops() { return waiter_ops<fiber_writers>(); }
  static const poll_site_ops& room_poll_ops() { return waiter_ops<room_pollers>(); }
  // Requires `lock` to hold `m_`. Polls for an element with `m_` released
  // between polls, for at most read_spin_limit; returns with `m_` held, true
  // when an element is there. A polling reader is awake: it is not counted in
  // `sleepers_` nor reported asleep, so writers send it no wake-up.
  bool poll_for_element(std::unique_lock<std::mutex>& lock) {
    const std::chrono::steady_clock::time_point give_up =
        std::chrono::steady_clock::now() + read_spin_limit;
    for (unsigned int poll = 1;; ++poll) {
      pause_between_polls(lock, poll);
      if (!_internal_cosim_empty()) {
        return true;
      }
      halt_if_stopped_while_waiting(lock);
      if (std::chrono::steady_clock::now() >= give_up) {
        return false;
      }
    }
  }
  // Requires `lock` to hold `m_`; returns with `m_` held and an element present.
  void await_element(std::unique_lock<std::mutex>& lock, bool wait) {
    if (!_internal_cosim_empty()) {
      return;
    }
    if (!wait) {
      require_element();
      return;
    }
    if (fiber_scheduling()) {
      await_write_on_fibers();
      return;
    }
    info_.note_reader();
    ++waiters_;
    wait_for_element(lock);
    --waiters_;
  }
  // A safe point of a waiting reader or writer, `m_` held: when the stream is
  // being destroyed or the thread's component is stopped, the thread leaves
  // the stream and halts (see component_stop.h). A wake-up it may have taken
  // for an element or for room is passed on to another sleeper.
  void halt_if_stopped_while_waiting(std::unique_lock<std::mutex>& lock) {
    if (doomed_ || stop_requested_here()) {
      --waiters_;
      if (!doomed_ && !_internal_cosim_empty() && sleepers_ > woken_) {
        ++woken_;
        note_wakeup_sent();
        cv_.notify_one();
      }
      if (!doomed_ && !info_.full()) {
        wake_a_writer(info_.depth());
      }
      lock.unlock();
      halt_this_thread(&info_);
    }
  }
  // Requires `lock` to hold `m_` and the stream to be full; waits, counted in
  // `waiters_`, until it has room (true) or a tryWrite is refused (false).
  bool wait_for_room(std::unique_lock<std::mutex>& lock) {
    if (fiber_scheduling()) {
      return await_room_on_fibers();
    }
    ++waiters_;
    const bool room = await_room(
        lock, info_.depth(), info_, this, [this] { return info_.full(); },
        [this, &lock] { halt_if_stopped_while_waiting(lock); });
    --waiters_;
    return room;
  }
  // The waiting part of await_element, counted in `waiters_`.
  void wait_for_element(std::unique_lock<std::mutex>& lock) {
    const bool traced = tracing();  // the whole wait is traced, or none of it
    if (traced) {
      trace_thread_entered(&info_, trace_thread_state::polling);
    }
    if (poll_for_element(lock)) {
      return;
    }
    const hang_watch watch{std::chrono::steady_clock::now(), &info_};
    if (traced) {
      trace_thread_entered(&info_, trace_thread_state::asleep);
    }
    bool ran_out = false;  // the last sleep was timed and ended without a wake-up
    do {
      ++sleepers_;
      note_thread_sleeps(info_,
                         std::chrono::duration_cast<std::chrono::nanoseconds>(
                             watch.asleep_since.time_since_epoch())
                             .count(),
                         waiting_for::element);
      sleep_on_cv(lock, watch, ran_out);
      --sleepers_;
      const bool signalled = woken_ > 0;
      if (signalled) {
        --woken_;
      }
      note_thread_woke(signalled, waiting_for::element);
      halt_if_stopped_while_waiting(lock);
    } while (_internal_cosim_empty());
    if (traced) {
      trace_thread_entered(nullptr, trace_thread_state::running);
    }
    const std::chrono::nanoseconds slept = std::chrono::steady_clock::now() - watch.asleep_since;
    info_.note_slept(static_cast<std::uint64_t>(slept.count()));
    note_reader_slept(static_cast<std::uint64_t>(slept.count()));
  }
  // wait_for_room() with fibers: the calling fiber (or the test bench) waits
  // until a read of this stream makes room, counted as a sleeping writer.
  __attribute__((noinline)) bool await_room_on_fibers() {
    write_refusal& refusal = current_write_refusal();
    if (refusal.stream == this) {
      refusal.refused = true;
      return false;
    }
    stream_depth& depth = info_.depth();
    const std::int64_t since = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count();
    do {
      ++depth.writers_asleep;
      note_thread_sleeps(info_, since, waiting_for::room);
      fiber_scheduler().await_write(this, room_ops());
      --depth.writers_asleep;
      const bool signalled = depth.writers_woken > 0;
      if (signalled) {
        --depth.writers_woken;
      }
      note_thread_woke(signalled, waiting_for::room);
    } while (info_.full());
    return true;
  }
  // With fibers, the test bench that found the stream full lets the
  // components run until a read makes room or none can run; true when it ran
  // any (it looks again).
  bool room_after_bench_poll() {
    return fiber_scheduling() && fiber_scheduler().poll_empty(this, room_poll_ops());
  }
  // After a write found the stream full and did not wait, `m_` released: a
  // poll point, as for an empty tryRead.
  __attribute__((noinline)) void refused_write_result() {
    log_empty_poll(this, room_poll_ops());
    if (!fiber_scheduling()) {
      back_off_after_empty_poll();
    }
    halt_if_stopped();
  }
  // await_element() with fibers: the calling fiber (or the test bench) waits
  // until a write reaches this stream, as many times as it takes to find an
  // element (another fiber may take it first).
  __attribute__((noinline)) void await_write_on_fibers() {
    const bool traced = tracing();
    if (traced) {
      trace_thread_entered(&info_, trace_thread_state::asleep);
    }
    const std::chrono::steady_clock::time_point since = std::chrono::steady_clock::now();
    note_thread_sleeps(
        info_,
        std::chrono::duration_cast<std::chrono::nanoseconds>(since.time_since_epoch()).count(),
        waiting_for::element);
    do {
      fiber_scheduler().await_write(this, poll_ops());
    } while (_internal_cosim_empty());
    note_thread_woke(false, waiting_for::element);
    if (traced) {
      trace_thread_entered(nullptr, trace_thread_state::running);
    }
    const std::chrono::nanoseconds slept = std::chrono::steady_clock::now() - since;
    info_.note_slept(static_cast<std::uint64_t>(slept.count()));
    note_reader_slept(static_cast<std::uint64_t>(slept.count()));
  }
  // One sleep on cv_. With hang checks on, it first looks for a hang, which
  // tells how long to sleep until the next look (still counted as asleep);
  // sets `ran_out` when that time passed without a wake-up.
  void sleep_on_cv(std::unique_lock<std::mutex>& lock, const hang_watch& watch, bool& ran_out) {
    std::chrono::nanoseconds::rep (*look_for_hang)(const hang_watch&, bool) =
        diagnostic_hooks().look_for_hang.load();
    if (look_for_hang == nullptr) {
      cv_.wait(lock);
      ran_out = false;
      return;
    }
    const std::chrono::nanoseconds until_next_look(look_for_hang(watch, ran_out));
    ran_out = cv_.wait_for(lock, until_next_look) == std::cv_status::timeout && woken_ == 0;
  }
  // Waits for room while the stream is full (or returns at once, unchanged,
  // when a tryWrite is refused); then appends one element with its sideband,
  // or nothing if the append throws, and
  // wakes one sleeping reader that no earlier write has woken yet and every
  // parked poller. The wake-ups are sent before `m_` is released: once a
  // reader can take the element (and perhaps destroy the stream), the write
  // touches nothing.
  // `Plain`: a write without sideband, whose band is the default.
  template <bool Plain = false>
  __attribute__((noinline)) void append(const T& arg, const packet_sideband& band) {
    {
      std::unique_lock<std::mutex> lock = lock_m();
      if (timed_run() ? !admit_timed_write(lock) : at_depth() && !wait_for_room(lock)) {
        return;
      }
      try {
        ring_.push_back(arg, band, info_.depth().capacity, &info_);
      } catch (...) {
        forget_timed_write();
        throw;
      }
      info_.note_written(ring_.size());
      if (!Plain && (band.sop || band.eop || band.empty != 0)) {
        info_.note_sideband(band.sop || band.eop, band.empty != 0);
      }
      trace_occupancy(
          info_, [this] { return ring_.size(); }, true);
      if (sleepers_ > woken_) {
        ++woken_;
        note_wakeup_sent();
        cv_.notify_one();
      }
      if (parked_pollers_ != nullptr) {
        wake_parked_pollers(parked_pollers_);
      }
    }
    ++moved_elements();
  }

 private:
  // A timed write that admit_timed_write() stamped did not append.
  void forget_timed_write() {
    if (timed_run()) {
      timed_ops().unwrite(info_);
    }
  }
  // The start of a timed write, `m_` held: a tryWrite (see
  // write_unless_full) is refused when its element would enter a full FIFO;
  // a write waits for room as untimed, then takes the cycle it enters.
  __attribute__((noinline)) bool admit_timed_write(std::unique_lock<std::mutex>& lock) {
    write_refusal& refusal = current_write_refusal();
    if (refusal.stream == this && !timed_ops().room(timed_ref())) {
      refusal.refused = true;
      return false;
    }
    if (info_.full() && !wait_for_room(lock)) {
      return false;
    }
    timed_ops().admit_write(timed_ref());
    return true;
  }

 protected:
  // Runs `write` (a write through the dispatch table) so that, in a bounded
  // mode, a full stream refuses it instead of waiting: true when written. A
  // refusal is a poll point (refused_write_result).
  template <typename Write>
  bool write_unless_full(Write write) {
    if (internal::write_unless_full(this, write)) {
      return true;
    }
    room_after_bench_poll();
    refused_write_result();
    return false;
  }

  // Stops the components that used this stream and waits until none of them
  // can enter it again, and every thread waiting in it has left (see
  // component_stop.h). Called first by the destructor of the most derived
  // stream class, before its dispatch table pointer changes, so that a
  // component still calling a virtual operation reads an unchanged one; later
  // calls do nothing. Destroying thread only.
  void stop_users() {
    if (!users_stopped_) {
      users_stopped_ = true;
      if (invocations_outstanding()) {
        stop_and_await_users();
      }
    }
  }

 private:
  __attribute__((noinline)) void stop_and_await_users() {
    order_after_sleeping_components();
    std::unique_lock<std::mutex> lock = lock_m();
    stopped_users users = stop_stream_users(info_.endpoints());
    if (users.stopped.empty() && waiters_ == 0) {
      return;
    }
    const bool waited_on = waiters_ > 0;
    if (fiber_scheduling()) {  // a stopped component's fiber is never resumed (see scheduler.h)
      for (always_run_record* record : users.stopped) {
        record->halted.store(true, std::memory_order_release);
      }
    } else {
      doomed_ = true;
      cv_.notify_all();
      info_.depth().room_signal.notify_all();
      for (unsigned int look = 0; waiters_ > 0 || !all_out_of_stream(users.stopped); ++look) {
        lock.unlock();
        pause_for_halting(look);
        lock_spinning(lock);
      }
      lock.unlock();
    }
    for (always_run_record* record : users.stopped) {
      if (record->waiting_on.load() == &info_ || record->last_empty.load() == &info_) {
        users.waiting.push_back(record);
      }
    }
    users.other_thread_waiting = waited_on && users.waiting.empty();
    users.lost = ring_.size();  // every user is out of the stream by now
    // Components that waited on a stream they will never need again (the
    // normal end of a bench with local streams) are stopped quietly.
    if (users.other_thread_waiting || (!users.waiting.empty() && users.lost != 0)) {
      if (void (*report)(stream_info&, const stopped_users&) =
              diagnostic_hooks().stream_destroyed_while_waited.load()) {
        report(info_, users);
      }
    }
  }
  bool all_out_of_stream(const std::vector<always_run_record*>& records) const {
    for (const always_run_record* record : records) {
      if (!out_of_stream(*record, &info_)) {
        return false;
      }
    }
    return true;
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
