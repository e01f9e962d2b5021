// Connects the diagnostics to the header-only library when the runtime is
// initialised. Executables that link qrn::runtime pull this object in through
// the undefined symbol qrn_runtime_diagnostics_anchor (see CMakeLists.txt).
#include "HLS/internal/diagnostic_hooks.h"
#include "critical_path.h"
#include "depth_settings.h"
#include "end_of_run_report.h"
#include "hang_watch.h"
#include "run_snapshot.h"
#include "settings.h"
#include "stream_ceiling.h"
#include "stream_teardown.h"
#include "timed_graph.h"
#include "trace_recorder.h"

extern "C" {
// Referenced by the link options of qrn::runtime; its value is not used.
__attribute__((visibility("default"))) int qrn_runtime_diagnostics_anchor = 0;
}

namespace {

// The one ending of the process (see report_end_of_run): the event graph
// (before the report, whose look at the cycles is not the program's), the
// report, then the trace file.
void end_of_run(int status) {
  qrn_runtime::write_timed_graph();
  qrn_runtime::write_end_of_run_report(status);
  qrn_runtime::finish_trace();
}

bool install_diagnostics() {
  qrn_runtime::warn_about_unknown_settings();
  qrn_runtime::configure_end_of_run_report();
  qrn_runtime::configure_hang_watch();
  qrn_runtime::configure_trace();
  qrn_runtime::configure_timed_graph();
  qrn_runtime::configure_critical_path();
  qrn_runtime::configure_depths();
  qrn_runtime::configure_stream_ceiling();
  qrn_runtime::check_settings_at_start();
  qrn::internal::diagnostic_hook_table& hooks = qrn::internal::diagnostic_hooks();
  hooks.describe_fatal_use.store(&qrn_runtime::describe_fatal_use);
  hooks.stream_destroyed_while_waited.store(&qrn_runtime::describe_destroyed_while_waited);
  hooks.find_stream_name.store(
      [](qrn::internal::stream_info& stream) { (void)qrn_runtime::stream_name(stream); });
  hooks.stream_destroyed.store(&qrn_runtime::note_stream_destroyed);
  hooks.status_for_stuck_tasks.store(&qrn_runtime::status_for_stuck_tasks);
  hooks.end_of_run.store(&end_of_run);
  return true;
}

const bool diagnostics_installed = install_diagnostics();

}  // namespace
