// Streams as a design declares them: `qrn::stream<T>` for a channel between
// two components, `qrn::stream_in<T>` for a component's inputs and
// `qrn::stream_out<T>` for its outputs.
//
// All three are `qrn::internal::stream<T>` channels (see HLS/hls_internal.h
// for the blocking and thread-safety rules): each read, write and tryRead
// calls the same-shaped `internal::stream<T>` operation directly, and each
// tryWrite calls the stream's own write directly and returns true, or false
// when a full stream refused it (see HLS/internal/depth.h). The non-virtual
// tryPeek, empty() and full() are internal::stream<T>'s own. On top of that,
// `setStallCycles` rejects a stall spread larger than the average stall.
//
// `stream_in<T>` and `stream_out<T>` derive from `stream<T>`, and a stream
// with properties derives from the same kind without, so a component
// parameter `qrn::stream<T>&` accepts every stream of T, and
// `qrn::stream_in<T>&` every input of T.
//
// The properties (`_Params`: qrn::buffer<8>, qrn::usesPackets<true>, ...;
// see HLS/internal/properties.h) are checked at compile time, carried as
// constants (read them with qrn::interface_properties) and recorded for the
// diagnostics. Only buffer<N> changes behaviour, and only where declared
// depths are in force (QRN_DEPTH); every operation works whatever they say.
//
// Also brings in HLS/task.h, so that a component source needs one include.
#ifndef QRN_HLS_HLS_H
#define QRN_HLS_HLS_H

#include "HLS/hls_internal.h"
#include "HLS/internal/properties.h"
#include "HLS/task.h"

// No virtual destructor, as for the streams of hls_internal.h.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

namespace qrn {

template <typename _T, typename... _Params>
class stream;

namespace internal {

// The constants of a stream with the properties `Ps` of element type `T`,
// carried as private static members.
template <typename T, typename... Ps>
class property_constants {
  using properties = property_set<T, Ps...>;

  static const int _buffer = properties::buffer;
  static const int _readyLatency = properties::readyLatency;
  static const int _bitsPerSymbol = properties::bitsPerSymbol;
  static const bool _firstSymbolInHighOrderBits = properties::firstSymbolInHighOrderBits;
  static const bool _usesPackets = properties::usesPackets;
  static const bool _usesEmpty = properties::usesEmpty;
  static const bool _usesValid = properties::usesValid;
  static const bool _usesReady = properties::usesReady;
};

// What a stream with properties adds to `Plain`, the same kind of stream
// without: its constants, and its properties recorded under the type `Self`
// (the class that derives from this one). A property list that is not valid
// for `T` does not compile. `Self` writes its own constructors (so that a
// defaulted declaration_site names the declaration), and its destructor must
// call stop_users(): it runs before any dispatch table pointer changes.
template <typename Self, typename Plain, typename T, typename... Ps>
class with_properties : public Plain, private property_constants<T, Ps...> {
 protected:
  explicit with_properties(declaration_site site) : Plain(site) { declare(); }
  with_properties(const char* name, declaration_site site) : Plain(name, site) { declare(); }

 public:
  with_properties(const with_properties&) = delete;
  with_properties& operator=(const with_properties&) = delete;

 private:
  void declare() {
    this->info_.set_type(typeid(Self));
    this->declare_properties(property_set<T, Ps...>::recorded());
  }
};

}  // namespace internal

// A channel between two components, or between a component and the test
// bench. `_Params` are properties (HLS/internal/properties.h), in any order;
// see interface_properties. Overrides slots 11 to 23 of the dispatch table.
template <typename _T>
class stream<_T> : public internal::stream<_T>, private internal::property_constants<_T> {
  using base = internal::stream<_T>;

 public:
  // `site` records where the stream is declared, for its diagnostic name;
  // leave it to its default.
  stream(internal::declaration_site site = internal::declaration_site::here()) : base(site) {
    this->info_.set_type(typeid(stream));
  }
  // A stream shown as `name` in diagnostics; see internal::stream(const char*).
  explicit stream(const char* name,
                  internal::declaration_site site = internal::declaration_site::here())
      : base(name, site) {
    this->info_.set_type(typeid(stream));
  }
  stream(const stream&) = delete;
  stream(const stream&&) = delete;
  stream& operator=(const stream&) = delete;
  stream& operator=(const stream&&) = delete;
  // See internal::stream<T>::stop_users().
  ~stream() { this->stop_users(); }

  // The plain operations inline where they are called directly, with their
  // short path (see internal::stream<T>).
  __attribute__((always_inline)) _T read(bool wait = true) override { return base::read(wait); }
  __attribute__((always_inline)) void write(const _T& arg) override { base::write(arg); }
  __attribute__((always_inline)) _T tryRead(bool& success) override {
    return base::tryRead(success);
  }
  bool tryWrite(const _T& arg) override {
    return this->write_unless_full([&] { stream::write(arg); });
  }

  _T read(bool& sop, bool& eop, bool wait = true) override { return base::read(sop, eop, wait); }
  _T read(bool& sop, bool& eop, int& empty, bool wait = true) override {
    return base::read(sop, eop, empty, wait);
  }
  void write(const _T& arg, bool sop, bool eop) override { base::write(arg, sop, eop); }
  void write(const _T& arg, bool sop, bool eop, int empty) override {
    base::write(arg, sop, eop, empty);
  }
  _T tryRead(bool& success, bool& sop, bool& eop) override {
    return base::tryRead(success, sop, eop);
  }
  _T tryRead(bool& success, bool& sop, bool& eop, int& empty) override {
    return base::tryRead(success, sop, eop, empty);
  }
  bool tryWrite(const _T& arg, bool sop, bool eop) override {
    return this->write_unless_full([&] { stream::write(arg, sop, eop); });
  }
  bool tryWrite(const _T& arg, bool sop, bool eop, int empty) override {
    return this->write_unless_full([&] { stream::write(arg, sop, eop, empty); });
  }

  // Fatal when `stall_delta` exceeds `average_stall`; no lock, see internal::stream<T>.
  void setStallCycles(unsigned int average_stall, unsigned int stall_delta) override {
    if (stall_delta > average_stall) {
      __qrn_hls_runtime_error_x86(
          "The stall delta in setStallCycles cannot be larger than the average stall value");
    }
    base::setStallCycles(average_stall, stall_delta);
  }

 protected:
  // Stores the ready/valid pair like setReadyorValidCycles, after rejecting a
  // spread larger than the average with `message`.
  void set_checked_RoV_cycles(unsigned int average, unsigned int delta, const char* message) {
    if (delta > average) {
      __qrn_hls_runtime_error_x86(message);
    }
    base::setReadyorValidCycles(average, delta);
  }
};

template <typename _T, typename... _Params>
class stream
    : public internal::with_properties<stream<_T, _Params...>, stream<_T>, _T, _Params...> {
 public:
  stream(internal::declaration_site site = internal::declaration_site::here())
      : internal::with_properties<stream, stream<_T>, _T, _Params...>(site) {}
  explicit stream(const char* name,
                  internal::declaration_site site = internal::declaration_site::here())
      : internal::with_properties<stream, stream<_T>, _T, _Params...>(name, site) {}
  ~stream() { this->stop_users(); }
};

// A component input: the test bench (or an upstream component) writes, the
// component reads.
template <typename _T, typename... _Params>
class stream_in;

template <typename _T>
class stream_in<_T> : public stream<_T> {
 public:
  stream_in(internal::declaration_site site = internal::declaration_site::here())
      : stream<_T>(site) {
    this->info_.set_type(typeid(stream_in));
  }
  explicit stream_in(const char* name,
                     internal::declaration_site site = internal::declaration_site::here())
      : stream<_T>(name, site) {
    this->info_.set_type(typeid(stream_in));
  }
  stream_in(const stream_in&) = delete;
  stream_in(const stream_in&&) = delete;
  stream_in& operator=(const stream_in&) = delete;
  stream_in& operator=(const stream_in&&) = delete;
  ~stream_in() { this->stop_users(); }

  // Sets the valid period of the timing model (average and spread, in
  // cycles); fatal when the spread exceeds the average. No lock.
  void setValidCycles(unsigned int average_valid, unsigned int valid_delta) {
    this->set_checked_RoV_cycles(
        average_valid, valid_delta,
        "The valid delta in setValidCycles cannot be larger than the average valid value");
  }
};

template <typename _T, typename... _Params>
class stream_in
    : public internal::with_properties<stream_in<_T, _Params...>, stream_in<_T>, _T, _Params...> {
 public:
  stream_in(internal::declaration_site site = internal::declaration_site::here())
      : internal::with_properties<stream_in, stream_in<_T>, _T, _Params...>(site) {}
  explicit stream_in(const char* name,
                     internal::declaration_site site = internal::declaration_site::here())
      : internal::with_properties<stream_in, stream_in<_T>, _T, _Params...>(name, site) {}
  ~stream_in() { this->stop_users(); }
};

// A component output: the component writes, the test bench (or a
// downstream component) reads.
template <typename _T, typename... _Params>
class stream_out;

template <typename _T>
class stream_out<_T> : public stream<_T> {
 public:
  stream_out(internal::declaration_site site = internal::declaration_site::here())
      : stream<_T>(site) {
    this->info_.set_type(typeid(stream_out));
  }
  explicit stream_out(const char* name,
                      internal::declaration_site site = internal::declaration_site::here())
      : stream<_T>(name, site) {
    this->info_.set_type(typeid(stream_out));
  }
  stream_out(const stream_out&) = delete;
  stream_out(const stream_out&&) = delete;
  stream_out& operator=(const stream_out&) = delete;
  stream_out& operator=(const stream_out&&) = delete;
  ~stream_out() { this->stop_users(); }

  // Sets the ready period of the timing model (average and spread, in
  // cycles); fatal when the spread exceeds the average. No lock.
  void setReadyCycles(unsigned int average_ready, unsigned int ready_delta) {
    this->set_checked_RoV_cycles(
        average_ready, ready_delta,
        "The ready delta in setReadyCycles cannot be larger than the average ready value");
  }
};

template <typename _T, typename... _Params>
class stream_out
    : public internal::with_properties<stream_out<_T, _Params...>, stream_out<_T>, _T, _Params...> {
 public:
  stream_out(internal::declaration_site site = internal::declaration_site::here())
      : internal::with_properties<stream_out, stream_out<_T>, _T, _Params...>(site) {}
  explicit stream_out(const char* name,
                      internal::declaration_site site = internal::declaration_site::here())
      : internal::with_properties<stream_out, stream_out<_T>, _T, _Params...>(name, site) {}
  ~stream_out() { this->stop_users(); }
};

// The properties of a stream type, as compile-time constants:
// `qrn::interface_properties<qrn::stream_out<int, qrn::buffer<8>>>::buffer`
// is 8. Undeclared properties have the values of a stream that declares none
// (buffer, readyLatency, bitsPerSymbol 0; firstSymbolInHighOrderBits,
// usesPackets, usesEmpty false; usesValid, usesReady true); `declared` is
// true when the stream declares at least one property.
template <typename Stream>
struct interface_properties;

template <typename _T, typename... _Params>
struct interface_properties<stream<_T, _Params...>> : internal::property_set<_T, _Params...> {};
template <typename _T, typename... _Params>
struct interface_properties<stream_in<_T, _Params...>> : internal::property_set<_T, _Params...> {};
template <typename _T, typename... _Params>
struct interface_properties<stream_out<_T, _Params...>> : internal::property_set<_T, _Params...> {};

}  // namespace qrn

#pragma GCC diagnostic pop

#endif  // QRN_HLS_HLS_H
