// The arguments a component instance keeps, compares and shows (see
// component_instances.h).
//
// - A reference parameter (`stream_in<int>& in`, `const cfg& c`) keeps the
//   address of the object given, which must be an lvalue; the component is
//   called with that very object. Two argument lists bind it equally when
//   the addresses are equal.
// - A value parameter (`int k`) and an rvalue-reference parameter keep a
//   copy of the argument converted to the parameter's type. Two copies are
//   equal by operator== when the type has one, else byte for byte when the
//   type is trivially copyable; another type cannot be compared, so it can be
//   passed to launch_task but not to launch_always_run.
// - In a component's display name, a stream argument shows as the stream's
//   diagnostic name, a byte-sized integer (`char`, `std::uint8_t`, ...) as
//   its number, any other argument as its value when it can be written to a
//   std::ostream (`bool` as true/false), else as its type.
//
// Requires C++17. Nothing here is on a stream's hot path.
#ifndef QRN_HLS_INTERNAL_COMPONENT_ARGUMENTS_H
#define QRN_HLS_INTERNAL_COMPONENT_ARGUMENTS_H

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <tuple>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "HLS/hls_internal.h"
#include "HLS/internal/names.h"
#include "HLS/internal/stream_registry.h"

namespace qrn {
namespace internal {

// The parameter types of a component function.
template <typename F>
struct parameters_of;
template <typename R, typename... P>
struct parameters_of<R(P...)> {
  using types = std::tuple<P...>;
};
template <typename R, typename... P>
struct parameters_of<R(P...) noexcept> : parameters_of<R(P...)> {};

// What an argument for parameter `P` is kept as.
template <typename P>
using kept_argument_t = std::conditional_t<std::is_lvalue_reference<P>::value,
                                           std::remove_reference_t<P>*, std::decay_t<P>>;

// Whether an argument of type `Argument` can be given for the parameter
// `Parameter` at `Position` (from 1) of a component. A mismatch stops the
// compilation here, with the position and both types in the name of this
// class; the launch then instantiates nothing that would fail again.
template <std::size_t Position, typename Parameter, typename Argument>
struct argument_fits {
  static constexpr bool value =
      std::is_lvalue_reference<Parameter>::value
          ? std::is_convertible<std::remove_reference_t<Argument>&, Parameter>::value
          : std::is_constructible<kept_argument_t<Parameter>, Argument>::value;
  static_assert(value,
                "this argument of a component does not fit its parameter: "
                "argument_fits<position from 1, parameter type, argument type> names them");
};

// Keeps `argument` for parameter `P`, the `Position`th.
template <std::size_t Position, typename P, typename A>
kept_argument_t<P> keep_argument(A&& argument) {
  if constexpr (!argument_fits<Position, P, A>::value) {
    std::abort();  // never compiled into a program: argument_fits stopped the compilation
  } else if constexpr (std::is_lvalue_reference<P>::value) {
    static_assert(std::is_lvalue_reference<A>::value,
                  "a reference parameter of a component must be given an object (an lvalue): "
                  "the component uses that object for as long as it runs");
    P bound = argument;
    return &bound;
  } else {
    return kept_argument_t<P>(std::forward<A>(argument));
  }
}

template <typename Parameters>
struct kept_arguments;
template <typename... P>
struct kept_arguments<std::tuple<P...>> {
  using type = std::tuple<kept_argument_t<P>...>;
};

template <typename Parameters, std::size_t... I, typename... A>
typename kept_arguments<Parameters>::type keep_all(std::index_sequence<I...>, A&&... arguments) {
  return typename kept_arguments<Parameters>::type(
      keep_argument<I + 1, std::tuple_element_t<I, Parameters>>(std::forward<A>(arguments))...);
}

// Keeps `arguments` for the parameters `Parameters` (a std::tuple).
template <typename Parameters, typename... A>
typename kept_arguments<Parameters>::type keep_arguments(A&&... arguments) {
  static_assert(std::tuple_size<Parameters>::value == sizeof...(A),
                "a component must be launched with one argument for each of its parameters");
  return keep_all<Parameters>(std::make_index_sequence<sizeof...(A)>(),
                              std::forward<A>(arguments)...);
}

// The kept argument as parameter `P` of a call that may come again (an
// always-running component): values are copied, never moved from.
template <typename P>
decltype(auto) argument_for_repeated_call(kept_argument_t<P>& kept) {
  if constexpr (std::is_lvalue_reference<P>::value) {
    return static_cast<P>(*kept);
  } else if constexpr (std::is_rvalue_reference<P>::value) {
    return kept_argument_t<P>(kept);
  } else {
    return static_cast<const kept_argument_t<P>&>(kept);
  }
}

// The kept argument as parameter `P` of the only call (a task).
template <typename P>
decltype(auto) argument_for_only_call(kept_argument_t<P>& kept) {
  if constexpr (std::is_lvalue_reference<P>::value) {
    return static_cast<P>(*kept);
  } else {
    return std::move(kept);
  }
}

template <typename T, typename = void>
struct has_equality : std::false_type {};
template <typename T>
struct has_equality<T, decltype(void(std::declval<const T&>() == std::declval<const T&>()))>
    : std::true_type {};

template <typename T>
constexpr bool comparable_argument =
    std::is_pointer<T>::value || has_equality<T>::value || std::is_trivially_copyable<T>::value;

template <typename T>
bool same_argument(const T& a, const T& b) {
  if constexpr (std::is_pointer<T>::value || has_equality<T>::value) {
    return static_cast<bool>(a == b);
  } else {
    static_assert(std::is_trivially_copyable<T>::value,
                  "an argument of launch_always_run needs operator== or a trivially copyable "
                  "type, so that a repeated launch can be recognised");
    return std::memcmp(&a, &b, sizeof(T)) == 0;
  }
}

template <typename Tuple, std::size_t... I>
bool same_arguments(const Tuple& a, const Tuple& b, std::index_sequence<I...>) {
  return (same_argument(std::get<I>(a), std::get<I>(b)) && ...);
}

// The diagnostic name of the live stream `stream`, or empty when it is not
// registered. Requires the registry's mutex.
inline std::string registered_stream_name(const stream_abstract_base& stream) {
  for (stream_info* info = stream_registry().head; info != nullptr; info = info->next()) {
    if (&info->stream() == &stream) {
      if (info->name().empty() && !info->name_searched()) {
        if (void (*find_name)(stream_info&) = diagnostic_hooks().find_stream_name.load()) {
          find_name(*info);
        }
      }
      return info->display_name();
    }
  }
  return {};
}

// Adds the address of the kept argument for parameter `P` to `streams` when
// it is a stream given by reference (see always_run_record::stream_arguments).
template <typename P>
void add_stream_argument(const kept_argument_t<P>& kept, std::vector<const void*>& streams) {
  using object = std::remove_cv_t<std::remove_reference_t<P>>;
  if constexpr (std::is_lvalue_reference<P>::value &&
                std::is_base_of<stream_abstract_base, object>::value) {
    streams.push_back(static_cast<const stream_abstract_base*>(kept));
  }
}

template <typename T, typename = void>
struct printable_argument : std::false_type {};
template <typename T>
struct printable_argument<T,
                          decltype(void(std::declval<std::ostream&>() << std::declval<const T&>()))>
    : std::true_type {};

// How `value` shows in a component's name. Requires the registry's mutex.
template <typename T>
std::string argument_text(const T& value) {
  if constexpr (std::is_base_of<stream_abstract_base, T>::value) {
    std::string name = registered_stream_name(value);
    if (!name.empty()) {
      return name;
    }
  }
  if constexpr (std::is_integral<T>::value && sizeof(T) == 1 && !std::is_same<T, bool>::value) {
    return std::to_string(static_cast<int>(value));  // a number, never a raw byte
  } else if constexpr (printable_argument<T>::value) {
    std::ostringstream text;
    text << std::boolalpha << value;
    return text.str();
  } else {
    return demangled(typeid(T).name());
  }
}

template <typename P>
std::string kept_argument_text(const kept_argument_t<P>& kept) {
  if constexpr (std::is_lvalue_reference<P>::value) {
    return argument_text(*kept);
  } else {
    return argument_text(kept);
  }
}

// "NAME(ARGUMENT, ...)" for the function named `function` and the kept
// arguments `kept` of its parameters `Params`.
template <typename Params, typename Kept, std::size_t... I>
std::string instance_name(const std::string& function, const Kept& kept,
                          std::index_sequence<I...>) {
  std::string name = function + "(";
  std::lock_guard<std::mutex> lock(stream_registry().mutex);
  [[maybe_unused]] const char* separator = "";  // unused when f has no parameters
  ((name += separator,
    name += kept_argument_text<std::tuple_element_t<I, Params>>(std::get<I>(kept)),
    separator = ", "),
   ...);
  return name + ")";
}

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_COMPONENT_ARGUMENTS_H
