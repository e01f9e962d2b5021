// Launches whose arguments do not fit the component's parameters, for the
// compile-error tests (see CMakeLists.txt): each QRN_CASE must fail to
// compile with one error that names the argument's position and both types.
#include "HLS/hls.h"

void filter(int taps, qrn::internal::stream<int>& in) {
  (void)taps;
  (void)in;
}

qrn::stream_in<short> narrow;
qrn::internal::stream<int> wide;

int main() {
#if QRN_CASE == 1
  qrn::launch_always_run<filter>(3, narrow);
#elif QRN_CASE == 2
  qrn::launch_task<filter>("three", wide);
#endif
  return 0;
}
