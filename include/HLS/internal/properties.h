// Interface properties of the component interfaces `qrn::stream_in` and
// `qrn::stream_out`: the property types a stream declares after its element
// type, in any order (`qrn::stream_out<int, qrn::buffer<8>, qrn::usesPackets<true>>`),
// the compile-time checks of a property list, and its values.
//
// Read the values of a declared interface with interface_properties (see
// HLS/hls.h): `qrn::interface_properties<decltype(s)>::buffer`. Properties
// that a stream does not declare keep the values of a stream that declares
// none. No property changes what a stream does; a stream records them at run
// time (declared_properties) for the diagnostics.
//
// Everything here is evaluated at compile time; nothing is thread-related.
#ifndef QRN_HLS_INTERNAL_PROPERTIES_H
#define QRN_HLS_INTERNAL_PROPERTIES_H

#include <climits>

namespace qrn {

// ---- Property types ----------------------------------------------------------
// FIFO depth of the interface, in elements (N >= 0).
template <int N>
struct buffer {};
// Cycles between ready and the data it admits (N >= 0).
template <int N>
struct readyLatency {};
// Width of one symbol in bits; divides the element's width (N > 0).
template <int N>
struct bitsPerSymbol {};
// Whether the first symbol of a beat sits in the high-order bits.
template <bool B>
struct firstSymbolInHighOrderBits {};
// Whether the interface carries start- and end-of-packet signals.
template <bool B>
struct usesPackets {};
// Whether the interface carries the empty-symbol count; needs usesPackets<true>.
template <bool B>
struct usesEmpty {};
// Whether the interface has a valid signal.
template <bool B>
struct usesValid {};
// Whether the interface has a ready signal.
template <bool B>
struct usesReady {};

namespace internal {

// The properties a stream declared, as the diagnostics keep them at run
// time. A stream that declares none has `any` false and the other values as
// below (the values of its interface constants).
struct declared_properties {
  bool any = false;              // at least one property was declared
  bool buffer_declared = false;  // buffer<N> was declared (N may be 0)
  int buffer = 0;
  int ready_latency = 0;
  int bits_per_symbol = 0;
  bool first_symbol_in_high_order_bits = false;
  bool uses_packets = false;
  bool uses_empty = false;
  bool uses_valid = true;
  bool uses_ready = true;
};

enum class property_kind {
  not_a_property,
  buffer,
  ready_latency,
  bits_per_symbol,
  first_symbol_in_high_order_bits,
  uses_packets,
  uses_empty,
  uses_valid,
  uses_ready,
};

// What a property argument is and the value it carries (a bool as 0 or 1).
template <typename P>
struct property_of {
  static constexpr property_kind kind = property_kind::not_a_property;
  static constexpr int value = 0;
};
template <property_kind K, int V>
struct property_entry {
  static constexpr property_kind kind = K;
  static constexpr int value = V;
};
template <int N>
struct property_of<buffer<N>> : property_entry<property_kind::buffer, N> {};
template <int N>
struct property_of<readyLatency<N>> : property_entry<property_kind::ready_latency, N> {};
template <int N>
struct property_of<bitsPerSymbol<N>> : property_entry<property_kind::bits_per_symbol, N> {};
template <bool B>
struct property_of<firstSymbolInHighOrderBits<B>>
    : property_entry<property_kind::first_symbol_in_high_order_bits, B> {};
template <bool B>
struct property_of<usesPackets<B>> : property_entry<property_kind::uses_packets, B> {};
template <bool B>
struct property_of<usesEmpty<B>> : property_entry<property_kind::uses_empty, B> {};
template <bool B>
struct property_of<usesValid<B>> : property_entry<property_kind::uses_valid, B> {};
template <bool B>
struct property_of<usesReady<B>> : property_entry<property_kind::uses_ready, B> {};

// How often a property of kind K occurs in the list.
template <property_kind K>
constexpr int count_of() {
  return 0;
}
template <property_kind K, typename P, typename... Ps>
constexpr int count_of() {
  return (property_of<P>::kind == K ? 1 : 0) + count_of<K, Ps...>();
}

// The value of the first property of kind K in the list, or `otherwise`.
template <property_kind K>
constexpr int value_of(int otherwise) {
  return otherwise;
}
template <property_kind K, typename P, typename... Ps>
constexpr int value_of(int otherwise) {
  return property_of<P>::kind == K ? property_of<P>::value : value_of<K, Ps...>(otherwise);
}

// The checked property list `Ps` of an interface with elements of type T.
// Instantiating it with a bad list is a compile error that says what is wrong.
template <typename T, typename... Ps>
struct property_set {
  static constexpr bool declared = sizeof...(Ps) > 0;
  static constexpr int buffer = value_of<property_kind::buffer, Ps...>(0);
  static constexpr int readyLatency = value_of<property_kind::ready_latency, Ps...>(0);
  static constexpr int bitsPerSymbol = value_of<property_kind::bits_per_symbol, Ps...>(0);
  static constexpr bool firstSymbolInHighOrderBits =
      value_of<property_kind::first_symbol_in_high_order_bits, Ps...>(0) != 0;
  static constexpr bool usesPackets = value_of<property_kind::uses_packets, Ps...>(0) != 0;
  static constexpr bool usesEmpty = value_of<property_kind::uses_empty, Ps...>(0) != 0;
  static constexpr bool usesValid = value_of<property_kind::uses_valid, Ps...>(1) != 0;
  static constexpr bool usesReady = value_of<property_kind::uses_ready, Ps...>(1) != 0;

  // The values to record at run time.
  static constexpr declared_properties recorded() {
    declared_properties d;
    d.any = sizeof...(Ps) > 0;
    d.buffer_declared = count_of<property_kind::buffer, Ps...>() > 0;
    d.buffer = buffer;
    d.ready_latency = readyLatency;
    d.bits_per_symbol = bitsPerSymbol;
    d.first_symbol_in_high_order_bits = firstSymbolInHighOrderBits;
    d.uses_packets = usesPackets;
    d.uses_empty = usesEmpty;
    d.uses_valid = usesValid;
    d.uses_ready = usesReady;
    return d;
  }

  static_assert(count_of<property_kind::not_a_property, Ps...>() == 0,
                "qrn::stream_in/stream_out: every argument after the element type must be an "
                "interface property: qrn::buffer<N>, qrn::readyLatency<N>, qrn::bitsPerSymbol<N>, "
                "qrn::firstSymbolInHighOrderBits<B>, qrn::usesPackets<B>, qrn::usesEmpty<B>, "
                "qrn::usesValid<B> or qrn::usesReady<B>");
  static_assert(count_of<property_kind::buffer, Ps...>() <= 1,
                "qrn::stream_in/stream_out: qrn::buffer is given more than once");
  static_assert(count_of<property_kind::ready_latency, Ps...>() <= 1,
                "qrn::stream_in/stream_out: qrn::readyLatency is given more than once");
  static_assert(count_of<property_kind::bits_per_symbol, Ps...>() <= 1,
                "qrn::stream_in/stream_out: qrn::bitsPerSymbol is given more than once");
  static_assert(count_of<property_kind::first_symbol_in_high_order_bits, Ps...>() <= 1,
                "qrn::stream_in/stream_out: qrn::firstSymbolInHighOrderBits is given more than "
                "once");
  static_assert(count_of<property_kind::uses_packets, Ps...>() <= 1,
                "qrn::stream_in/stream_out: qrn::usesPackets is given more than once");
  static_assert(count_of<property_kind::uses_empty, Ps...>() <= 1,
                "qrn::stream_in/stream_out: qrn::usesEmpty is given more than once");
  static_assert(count_of<property_kind::uses_valid, Ps...>() <= 1,
                "qrn::stream_in/stream_out: qrn::usesValid is given more than once");
  static_assert(count_of<property_kind::uses_ready, Ps...>() <= 1,
                "qrn::stream_in/stream_out: qrn::usesReady is given more than once");
  static_assert(buffer >= 0,
                "qrn::stream_in/stream_out: the depth N of qrn::buffer<N> cannot be negative");
  static_assert(readyLatency >= 0,
                "qrn::stream_in/stream_out: the latency N of qrn::readyLatency<N> cannot be "
                "negative");
  static_assert(count_of<property_kind::bits_per_symbol, Ps...>() == 0 || bitsPerSymbol > 0,
                "qrn::stream_in/stream_out: the width N of qrn::bitsPerSymbol<N> must be positive");
  static_assert(bitsPerSymbol <= 0 || (sizeof(T) * CHAR_BIT) % bitsPerSymbol == 0,
                "qrn::stream_in/stream_out: qrn::bitsPerSymbol<N> must divide the element's "
                "width in bits (sizeof(T) * 8)");
  static_assert(!usesEmpty || usesPackets,
                "qrn::stream_in/stream_out: qrn::usesEmpty<true> needs qrn::usesPackets<true>");
};

#if __cplusplus < 201703L  // before C++17, odr-used constexpr members need a definition
template <typename T, typename... Ps>
constexpr bool property_set<T, Ps...>::declared;
template <typename T, typename... Ps>
constexpr int property_set<T, Ps...>::buffer;
template <typename T, typename... Ps>
constexpr int property_set<T, Ps...>::readyLatency;
template <typename T, typename... Ps>
constexpr int property_set<T, Ps...>::bitsPerSymbol;
template <typename T, typename... Ps>
constexpr bool property_set<T, Ps...>::firstSymbolInHighOrderBits;
template <typename T, typename... Ps>
constexpr bool property_set<T, Ps...>::usesPackets;
template <typename T, typename... Ps>
constexpr bool property_set<T, Ps...>::usesEmpty;
template <typename T, typename... Ps>
constexpr bool property_set<T, Ps...>::usesValid;
template <typename T, typename... Ps>
constexpr bool property_set<T, Ps...>::usesReady;
#endif

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_PROPERTIES_H
