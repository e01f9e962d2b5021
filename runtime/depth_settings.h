// Depth settings a user changes without rebuilding: QRN_DEPTH (unbounded,
// declared or grow), QRN_DEPTH_DEFAULT (a depth for streams that declare
// none) and QRN_DEPTH_OVERRIDE (NAME=DEPTH,... by diagnostic stream name).
#ifndef QRN_RUNTIME_DEPTH_SETTINGS_H
#define QRN_RUNTIME_DEPTH_SETTINGS_H

#include <ostream>

#include "HLS/internal/depth.h"

namespace qrn_runtime {

// Reads the three settings (a bad value: one line on standard error, and the
// default or, for an override entry, the other entries), installs the hook
// that configures each stream's depth and configures the streams constructed
// so far. Called once, while the runtime is initialised.
void configure_depths();

// The mode read by configure_depths().
qrn::internal::depth_mode depth_mode_setting();

// One line for each QRN_DEPTH_OVERRIDE name that no stream has had so far.
void write_unmatched_depth_overrides(std::ostream& out);

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_DEPTH_SETTINGS_H
