// Connects the diagnostics to the header-only library when the runtime is
// initialised. Executables that link qrn::runtime pull this object in through
// the undefined symbol qrn_runtime_diagnostics_anchor (see CMakeLists.txt).
#include "HLS/internal/diagnostic_hooks.h"
#include "end_of_run_report.h"
#include "hang_watch.h"
#include "run_snapshot.h"

extern "C" {
// Referenced by the link options of qrn::runtime; its value is not used.
__attribute__((visibility("default"))) int qrn_runtime_diagnostics_anchor = 0;
}

namespace {

bool install_diagnostics() {
  qrn_runtime::configure_end_of_run_report();
  qrn_runtime::configure_hang_watch();
  qrn::internal::diagnostic_hook_table& hooks = qrn::internal::diagnostic_hooks();
  hooks.describe_fatal_use.store(&qrn_runtime::describe_fatal_use);
  hooks.find_stream_name.store(
      [](qrn::internal::stream_info& stream) { (void)qrn_runtime::stream_name(stream); });
  hooks.end_of_run.store(&qrn_runtime::write_end_of_run_report);
  return true;
}

const bool diagnostics_installed = install_diagnostics();

}  // namespace
