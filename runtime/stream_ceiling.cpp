#include "stream_ceiling.h"

#include <cstddef>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>

#include "HLS/internal/names.h"
#include "HLS/internal/process_exit.h"
#include "HLS/internal/settings.h"
#include "HLS/internal/stream_ceiling.h"
#include "HLS/internal/stream_registry.h"
#include "run_snapshot.h"
#include "settings.h"

namespace qrn_runtime {

namespace {

// A power of two: rings grow by doubling, so a ring of a stream reaches it
// exactly. No sane design holds a gigabyte in one FIFO (a 4K frame of 32-bit
// pixels is 32 MiB), and a machine survives a gigabyte and its relocation.
constexpr std::size_t default_ceiling = std::size_t{1} << 30;

// One line naming the stream, the thread that writes it and how much it
// holds, then the ending with status 1, as for a hang.
void report_outgrown_stream(const qrn::internal::stream_info& stream, std::size_t held,
                            std::size_t bytes) {
  qrn::internal::claim_process_ending();
  std::string name;
  {
    std::lock_guard<std::mutex> lock(qrn::internal::stream_registry().mutex);
    name = live_stream_name(&stream);
  }
  std::cerr << "qrn: stream " << name << " (" << qrn::internal::demangled(stream.type().name())
            << ") holds " << held << " elements that no one has read, written by "
            << this_thread_description() << "; its storage would grow to " << bytes
            << " bytes, past QRN_STREAM_LIMIT=" << qrn::internal::stream_ceiling().bytes.load()
            << " bytes: ending the process with status 1\n"
            << std::flush;
  stream_held_by_this_thread() = &stream;  // the end-of-run report reads it unlocked
  qrn::internal::end_process_now(1);
}

}  // namespace

void configure_stream_ceiling() {
  qrn::internal::stream_ceiling_state& ceiling = qrn::internal::stream_ceiling();
  ceiling.bytes.store(default_ceiling);
  const qrn::internal::setting value = qrn::internal::setting_value("QRN_STREAM_LIMIT");
  unsigned long long bytes = 0;
  if (value && (!parse_byte_count(value.value, bytes) || bytes < 1024)) {
    std::fprintf(stderr,
                 "qrn: ignoring QRN_STREAM_LIMIT=%s%s: expected the bytes one stream may hold (K, "
                 "M or G suffix allowed), at least 1K; using 1G\n",
                 value.value, value.note());
    qrn::internal::note_bad_setting();
  } else if (value) {
    ceiling.bytes.store(static_cast<std::size_t>(bytes));
  }
  ceiling.outgrown.store(&report_outgrown_stream);
}

}  // namespace qrn_runtime
