// Short names for the static locals of functions, as demangled names spell
// them: `stage<3>(qrn::stream_in<int>&)::buf` is shown as `stage<3>::buf`.
#ifndef QRN_RUNTIME_LOCAL_STATIC_NAMES_H
#define QRN_RUNTIME_LOCAL_STATIC_NAMES_H

#include <string>

namespace qrn_runtime {

// `name` (demangled, without "(anonymous namespace)::" parts) with the
// parameter list and qualifiers of every enclosing function dropped
// (`dsp::stage<3, int>(qrn::stream_in<int>&) const::buf` becomes
// `dsp::stage<3, int>::buf`), and the `operator()` of a lambda
// (`g<int>(int)::{lambda()#1}::operator()() const::q` becomes
// `g<int>::{lambda()#1}::q`). Namespaces, classes and template arguments stay
// as written. Unchanged when `name` has no enclosing function or its brackets
// do not balance. Thread-safe.
std::string short_local_static_name(const std::string& name);

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_LOCAL_STATIC_NAMES_H
