// Includes every public header and instantiates every member of the class
// templates, for element types with and without a class type, so that each
// language standard and compiler the checks use compiles all of it with
// warnings as errors. Linked into the in-tree consumer program.
#include <string>

#include "HLS/diagnostics.h"
#include "HLS/hls.h"
#include "HLS/hls_internal.h"
#include "HLS/runtime.h"
#include "HLS/task.h"

namespace {

struct labelled_sample {
  std::string label;
  double value = 0.0;
};

}  // namespace

void all_headers_component() {}

// clang reports -Wnon-virtual-dtor (off inside the headers: the streams have
// no virtual destructor by design) at an explicit instantiation.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
template class qrn::internal::stream<int>;
template class qrn::internal::stream<labelled_sample>;
template class qrn::stream<labelled_sample>;
template class qrn::stream<int, qrn::buffer<2>>;
template class qrn::stream_in<int>;
template class qrn::stream_out<int>;
template class qrn::stream_in<labelled_sample>;
template class qrn::stream_out<labelled_sample>;
template class qrn::stream_in<int, qrn::buffer<4>, qrn::usesPackets<true>, qrn::usesEmpty<true>>;
template class qrn::stream_out<labelled_sample, qrn::readyLatency<2>, qrn::usesValid<false>>;
#pragma GCC diagnostic pop
template class qrn::internal::_task<qrn::internal::VoidFuncTy, all_headers_component, true>;
template class qrn::internal::_task<qrn::internal::VoidFuncTy, all_headers_component, false>;
template void qrn::launch_always_run<all_headers_component>();
