// Diagnostics of streams destroyed while components still used them (see
// HLS/internal/component_stop.h).
#ifndef QRN_RUNTIME_STREAM_TEARDOWN_H
#define QRN_RUNTIME_STREAM_TEARDOWN_H

#include "HLS/internal/component_stop.h"
#include "HLS/internal/stream_registry.h"

namespace qrn_runtime {

// One line on standard error naming `stream`, destroyed while a thread still
// waited on it, the components that waited and those it stopped. Called by
// the destroying thread before the stream's members are destroyed, with no
// stream mutex held.
void describe_destroyed_while_waited(qrn::internal::stream_info& stream,
                                     const qrn::internal::stopped_users& users);

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_STREAM_TEARDOWN_H
