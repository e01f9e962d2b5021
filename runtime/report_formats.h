// The run report as text: the aligned table, JSON, CSV, and the warnings
// about streams left holding elements or written sideband they would drop.
#ifndef QRN_RUNTIME_REPORT_FORMATS_H
#define QRN_RUNTIME_REPORT_FORMATS_H

#include <ostream>
#include <string>

#include "HLS/diagnostics.h"

namespace qrn_runtime {

// {"streams": [...], "components": [...]}; see docs/diagnostics.md for the fields.
void write_json(std::ostream& out, const qrn::run_report& report);

// One header line, then one line per stream and per component; see
// docs/diagnostics.md for the columns.
void write_csv(std::ostream& out, const qrn::run_report& report);

// One warning line for each stream that holds elements.
void write_leftover_warnings(std::ostream& out, const qrn::run_report& report);

// One warning line for each stream that was written sideband its declared
// interface would drop.
void write_dropped_sideband_warnings(std::ostream& out, const qrn::run_report& report);

// One warning line for each stream read by more than one user, and one for
// each written by more than one.
void write_shared_stream_warnings(std::ostream& out, const qrn::run_report& report);

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_REPORT_FORMATS_H
