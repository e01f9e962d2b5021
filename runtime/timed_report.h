// A timed run's part of the run report (QRN_TIME=cycles): cycle statistics
// of each stream and component, the design's totals and its bottleneck.
#ifndef QRN_RUNTIME_TIMED_REPORT_H
#define QRN_RUNTIME_TIMED_REPORT_H

#include <cstdint>
#include <map>
#include <ostream>
#include <string>

#include "HLS/diagnostics.h"
#include "HLS/internal/stream_registry.h"

namespace qrn_runtime {

// Copies a stream's cycle statistics into its report.
void fill_stream_cycles(const qrn::internal::stream_cycle_stats& stats, qrn::stream_report& report);

// Fills the components' stalls from the streams they read and write, and
// the design's totals. `names` maps stream serials to the reports' names.
// Main thread, after the streams' statistics were copied.
void fill_design_cycles(qrn::run_report& report, const std::map<std::uint64_t, std::string>& names);

// What the tables show as a component's calls: a task's iterations when it
// marked them (qrn::new_iteration in a timed run), else its completed calls.
std::uint64_t calls_shown(const qrn::component_report& component);

// The timed part of the run table: the streams' and components' cycles,
// then the design's totals and its bottleneck on a line each. Nothing for a
// run that is not timed.
void print_cycle_table(std::ostream& out, const qrn::run_report& report);

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_TIMED_REPORT_H
