// The ceiling on one stream's element storage (QRN_STREAM_LIMIT) and the
// report of a stream that would pass it.
#ifndef QRN_RUNTIME_STREAM_CEILING_H
#define QRN_RUNTIME_STREAM_CEILING_H

namespace qrn_runtime {

// Reads QRN_STREAM_LIMIT (bytes, with a K, M or G suffix; default 1G) and
// installs the report (see HLS/internal/stream_ceiling.h). A bad value gets
// one line and the default. Called once, while the runtime is initialised.
void configure_stream_ceiling();

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_STREAM_CEILING_H
