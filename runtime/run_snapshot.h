// Snapshots of the registry of streams and of the always-running components,
// shared by the runtime's reports.
#ifndef QRN_RUNTIME_RUN_SNAPSHOT_H
#define QRN_RUNTIME_RUN_SNAPSHOT_H

#include <mutex>
#include <string>

#include "HLS/diagnostics.h"
#include "HLS/internal/activity.h"
#include "HLS/internal/stream_registry.h"

namespace qrn_runtime {

// The stream whose mutex the calling thread holds while it builds a report
// (a sleeping reader looking for a hang), or null. stream_access reads that
// stream without locking it.
const qrn::internal::stream_info*& stream_held_by_this_thread();

// Access to a stream's statistics and contents: holds its mutex for the
// lifetime of this object, unless the calling thread holds it already (a
// reader looking for a hang, a thread reporting a fatal misuse of it).
class stream_access {
 public:
  // try_lock() once, or tries for about a millisecond: a report must neither
  // wait for a thread that holds the mutex for good (one parked while the
  // process ends) nor give up on a stream that is merely busy.
  enum class attempt { once, briefly };
  stream_access(const qrn::internal::stream_info& stream, attempt how);
  ~stream_access();
  stream_access(const stream_access&) = delete;
  stream_access& operator=(const stream_access&) = delete;

  // False when the mutex stayed taken: the stream must not be read.
  bool granted() const { return granted_; }

 private:
  std::mutex* locked_ = nullptr;  // the mutex this object must release
  bool granted_ = false;
};

// The display name of `stream`: its own name, its variable's name or the
// part of a variable it is (`lanes[2]`, `fe.samples`), its declaration
// (`samples (tb.cpp:15)`, `tb.cpp:15`), or `stream<T>#N`.
// Requires the registry's mutex.
std::string stream_name(qrn::internal::stream_info& stream);

// Remembers `stream`, whose destruction begins, when it has static storage
// duration: stream_name() still counts it as an element of its array.
// Requires the registry's mutex.
void note_stream_destroyed(const qrn::internal::stream_info& stream) noexcept;

// The display name of a stream known only by address: the name of the live
// stream at `stream`, or empty when no live stream is there (it was
// destroyed). Requires the registry's mutex.
std::string live_stream_name(const qrn::internal::stream_info* stream);

// The display name of a component: the name it was launched with, or its
// function's name (with its arguments, when it has some).
std::string component_name(const qrn::internal::always_run_record& record);

// "the test bench", "a test bench thread" or "component NAME": the calling
// thread as a report names it.
std::string this_thread_description();

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_RUN_SNAPSHOT_H
