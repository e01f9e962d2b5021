// Component interfaces: `qrn::stream_in<T>` for a component's inputs and
// `qrn::stream_out<T>` for its outputs.
//
// Both are `qrn::internal::stream<T>` channels (see HLS/hls_internal.h for the
// blocking and thread-safety rules): each read, write and tryRead calls the
// same-shaped `stream<T>` operation directly, and each tryWrite calls the
// interface's own write directly and returns true, or false when a full
// stream refused it (see HLS/internal/depth.h). The non-virtual tryPeek
// overloads are stream<T>'s own. On top of that, `setStallCycles` rejects a
// stall spread larger than the average stall.
//
// The interface properties (`_Params`: qrn::buffer<8>, qrn::usesPackets<true>,
// ...; see HLS/internal/properties.h) are checked at compile time, carried as
// constants (read them with qrn::interface_properties) and recorded for the
// diagnostics; they select nothing: every operation works whatever they say.
// An interface with properties derives from the one without, so a component
// written against `qrn::stream_in<T>&` accepts either.
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
namespace internal {

// The behaviour shared by stream_in and stream_out: overrides of slots 11 to 23.
template <typename T>
class directional_stream : public stream<T> {
  using base = stream<T>;

 public:
  explicit directional_stream(declaration_site site) : base(site) {}
  directional_stream(const char* name, declaration_site site) : base(name, site) {}
  directional_stream(const directional_stream&) = delete;
  directional_stream& operator=(const directional_stream&) = delete;

  T read(bool wait = true) override { return base::read(wait); }
  void write(const T& arg) override { base::write(arg); }
  T tryRead(bool& success) override { return base::tryRead(success); }
  bool tryWrite(const T& arg) override {
    return internal::write_unless_full(static_cast<base*>(this),
                                       [&] { directional_stream::write(arg); });
  }

  T read(bool& sop, bool& eop, bool wait = true) override { return base::read(sop, eop, wait); }
  T read(bool& sop, bool& eop, int& empty, bool wait = true) override {
    return base::read(sop, eop, empty, wait);
  }
  void write(const T& arg, bool sop, bool eop) override { base::write(arg, sop, eop); }
  void write(const T& arg, bool sop, bool eop, int empty) override {
    base::write(arg, sop, eop, empty);
  }
  T tryRead(bool& success, bool& sop, bool& eop) override {
    return base::tryRead(success, sop, eop);
  }
  T tryRead(bool& success, bool& sop, bool& eop, int& empty) override {
    return base::tryRead(success, sop, eop, empty);
  }
  bool tryWrite(const T& arg, bool sop, bool eop) override {
    return internal::write_unless_full(static_cast<base*>(this),
                                       [&] { directional_stream::write(arg, sop, eop); });
  }
  bool tryWrite(const T& arg, bool sop, bool eop, int empty) override {
    return internal::write_unless_full(static_cast<base*>(this),
                                       [&] { directional_stream::write(arg, sop, eop, empty); });
  }

  // Fatal when `stall_delta` exceeds `average_stall`; no lock, see stream<T>.
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

}  // namespace internal

// A component input: the test bench (or an upstream component) writes, the
// component reads. `_Params` are interface properties
// (HLS/internal/properties.h), in any order; see interface_properties.
template <typename _T, typename... _Params>
class stream_in;

// The interface without declared properties. Every stream_in<_T, _Params...>
// derives from it, so a component body taking `stream_in<_T>&` accepts a
// stream of the same element type with any properties.
template <typename _T>
class stream_in<_T> : public internal::directional_stream<_T> {
 public:
  // `site` records where the stream is declared, for its diagnostic name;
  // leave it to its default.
  stream_in(internal::declaration_site site = internal::declaration_site::here())
      : internal::directional_stream<_T>(site) {
    this->info_.set_type(typeid(stream_in));
  }
  // A stream shown as `name` in diagnostics; see stream<T>::stream(const char*).
  explicit stream_in(const char* name,
                     internal::declaration_site site = internal::declaration_site::here())
      : internal::directional_stream<_T>(name, site) {
    this->info_.set_type(typeid(stream_in));
  }
  stream_in(const stream_in&) = delete;
  stream_in(const stream_in&&) = delete;
  stream_in& operator=(const stream_in&) = delete;
  stream_in& operator=(const stream_in&&) = delete;
  // See stream<T>::stop_users().
  ~stream_in() { this->stop_users(); }

  // Sets the valid period of the timing model (average and spread, in
  // cycles); fatal when the spread exceeds the average. No lock.
  void setValidCycles(unsigned int average_valid, unsigned int valid_delta) {
    this->set_checked_RoV_cycles(
        average_valid, valid_delta,
        "The valid delta in setValidCycles cannot be larger than the average valid value");
  }

 private:
  static const int _buffer = 0;
  static const int _readyLatency = 0;
  static const int _bitsPerSymbol = 0;
  static const bool _firstSymbolInHighOrderBits = false;
  static const bool _usesPackets = false;
  static const bool _usesEmpty = false;
  static const bool _usesValid = true;
  static const bool _usesReady = true;
};

// The interface with declared properties: the operations of stream_in<_T>,
// its own constants, and the properties recorded for the diagnostics. A
// property list that is not valid for `_T` does not compile.
template <typename _T, typename... _Params>
class stream_in : public stream_in<_T> {
  using properties = internal::property_set<_T, _Params...>;

 public:
  stream_in(internal::declaration_site site = internal::declaration_site::here())
      : stream_in<_T>(site) {
    declare();
  }
  explicit stream_in(const char* name,
                     internal::declaration_site site = internal::declaration_site::here())
      : stream_in<_T>(name, site) {
    declare();
  }
  stream_in(const stream_in&) = delete;
  stream_in(const stream_in&&) = delete;
  stream_in& operator=(const stream_in&) = delete;
  stream_in& operator=(const stream_in&&) = delete;

 private:
  void declare() {
    this->info_.set_type(typeid(stream_in));
    this->declare_properties(properties::recorded());
  }

  static const int _buffer = properties::buffer;
  static const int _readyLatency = properties::readyLatency;
  static const int _bitsPerSymbol = properties::bitsPerSymbol;
  static const bool _firstSymbolInHighOrderBits = properties::firstSymbolInHighOrderBits;
  static const bool _usesPackets = properties::usesPackets;
  static const bool _usesEmpty = properties::usesEmpty;
  static const bool _usesValid = properties::usesValid;
  static const bool _usesReady = properties::usesReady;
};

// A component output: the component writes, the test bench (or a
// downstream component) reads. `_Params` are interface properties
// (HLS/internal/properties.h), in any order; see interface_properties.
template <typename _T, typename... _Params>
class stream_out;

// The interface without declared properties. Every stream_out<_T, _Params...>
// derives from it, so a component body taking `stream_out<_T>&` accepts a
// stream of the same element type with any properties.
template <typename _T>
class stream_out<_T> : public internal::directional_stream<_T> {
 public:
  // `site` records where the stream is declared, for its diagnostic name;
  // leave it to its default.
  stream_out(internal::declaration_site site = internal::declaration_site::here())
      : internal::directional_stream<_T>(site) {
    this->info_.set_type(typeid(stream_out));
  }
  // A stream shown as `name` in diagnostics; see stream<T>::stream(const char*).
  explicit stream_out(const char* name,
                      internal::declaration_site site = internal::declaration_site::here())
      : internal::directional_stream<_T>(name, site) {
    this->info_.set_type(typeid(stream_out));
  }
  stream_out(const stream_out&) = delete;
  stream_out(const stream_out&&) = delete;
  stream_out& operator=(const stream_out&) = delete;
  stream_out& operator=(const stream_out&&) = delete;
  // See stream<T>::stop_users().
  ~stream_out() { this->stop_users(); }

  // Sets the ready period of the timing model (average and spread, in
  // cycles); fatal when the spread exceeds the average. No lock.
  void setReadyCycles(unsigned int average_ready, unsigned int ready_delta) {
    this->set_checked_RoV_cycles(
        average_ready, ready_delta,
        "The ready delta in setReadyCycles cannot be larger than the average ready value");
  }

 private:
  static const int _buffer = 0;
  static const int _readyLatency = 0;
  static const int _bitsPerSymbol = 0;
  static const bool _firstSymbolInHighOrderBits = false;
  static const bool _usesPackets = false;
  static const bool _usesEmpty = false;
  static const bool _usesValid = true;
  static const bool _usesReady = true;
};

// The interface with declared properties: the operations of stream_out<_T>,
// its own constants, and the properties recorded for the diagnostics. A
// property list that is not valid for `_T` does not compile.
template <typename _T, typename... _Params>
class stream_out : public stream_out<_T> {
  using properties = internal::property_set<_T, _Params...>;

 public:
  stream_out(internal::declaration_site site = internal::declaration_site::here())
      : stream_out<_T>(site) {
    declare();
  }
  explicit stream_out(const char* name,
                      internal::declaration_site site = internal::declaration_site::here())
      : stream_out<_T>(name, site) {
    declare();
  }
  stream_out(const stream_out&) = delete;
  stream_out(const stream_out&&) = delete;
  stream_out& operator=(const stream_out&) = delete;
  stream_out& operator=(const stream_out&&) = delete;

 private:
  void declare() {
    this->info_.set_type(typeid(stream_out));
    this->declare_properties(properties::recorded());
  }

  static const int _buffer = properties::buffer;
  static const int _readyLatency = properties::readyLatency;
  static const int _bitsPerSymbol = properties::bitsPerSymbol;
  static const bool _firstSymbolInHighOrderBits = properties::firstSymbolInHighOrderBits;
  static const bool _usesPackets = properties::usesPackets;
  static const bool _usesEmpty = properties::usesEmpty;
  static const bool _usesValid = properties::usesValid;
  static const bool _usesReady = properties::usesReady;
};

// The interface properties of a stream type, as compile-time constants:
// `qrn::interface_properties<qrn::stream_out<int, qrn::buffer<8>>>::buffer`
// is 8. Undeclared properties have the values of a stream that declares none
// (buffer, readyLatency, bitsPerSymbol 0; firstSymbolInHighOrderBits,
// usesPackets, usesEmpty false; usesValid, usesReady true); `declared` is
// true when the stream declares at least one property.
template <typename Stream>
struct interface_properties;

template <typename _T, typename... _Params>
struct interface_properties<stream_in<_T, _Params...>> : internal::property_set<_T, _Params...> {};
template <typename _T, typename... _Params>
struct interface_properties<stream_out<_T, _Params...>> : internal::property_set<_T, _Params...> {};

}  // namespace qrn

#pragma GCC diagnostic pop

#endif  // QRN_HLS_HLS_H
