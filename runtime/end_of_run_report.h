// The report written when the process ends, whichever way it ends
// (QRN_REPORT).
#ifndef QRN_RUNTIME_END_OF_RUN_REPORT_H
#define QRN_RUNTIME_END_OF_RUN_REPORT_H

namespace qrn_runtime {

// Reads QRN_REPORT; a bad value gets one line on standard error and the
// default (`summary`). Called once, while the runtime is initialised.
void configure_end_of_run_report();

// Writes the report QRN_REPORT asks for: `summary` (the default) the
// warnings about leftover elements and dropped sideband, `table` also the table on standard error,
// `PATH.json` or `PATH.csv` also the table to that file, `off` nothing.
void write_end_of_run_report(int status);

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_END_OF_RUN_REPORT_H
