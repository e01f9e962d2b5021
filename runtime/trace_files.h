// The trace file formats: a Value Change Dump for GTKWave and Chrome
// trace-event JSON for Perfetto and chrome://tracing. See docs/diagnostics.md
// ("Tracing") for what each one shows.
#ifndef QRN_RUNTIME_TRACE_FILES_H
#define QRN_RUNTIME_TRACE_FILES_H

#include <cstdio>
#include <string>

#include "trace_recorder.h"

namespace qrn_runtime {

// `name` as a VCD variable name: its letters, digits and underscores, each
// run of other characters between two of them turned into one '_'
// (`{anonymous}::stage<3>` gives `anonymous_stage_3`); "_" for none.
std::string vcd_safe_name(const std::string& name);

// Writes the whole file for `trace` to `out`, in `trace.format`; false when
// a write failed.
bool write_trace_file(std::FILE* out, const recorded_trace& trace);

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_TRACE_FILES_H
