// Who reads and who writes a stream.
//
// A user of a stream is identified by current_always_run_record() on the
// thread that uses it: the record of an always-running component, or null for
// the test bench (its main thread or any other thread that runs no
// component). Records are never freed, so an identity stays valid for the
// whole run.
//
// Every `stream_endpoints` is guarded by its stream's mutex. A stream
// operation that reads (takes an element, finds the stream empty in a
// tryRead, starts waiting in a blocking read) or writes tells it its user;
// the hot path is one comparison with the first user seen, and only a
// different user takes the out-of-line path.
//
// Users are counted only while they overlap in time: a task that has ended
// is no longer a user, so the runs of a task launched again and again, one
// after another, are one writer, not one more each time.
#ifndef QRN_HLS_INTERNAL_STREAM_ENDPOINTS_H
#define QRN_HLS_INTERNAL_STREAM_ENDPOINTS_H

#include <algorithm>
#include <memory>
#include <vector>

#include "HLS/internal/activity.h"

namespace qrn {
namespace internal {

// The users of one stream as seen so far.
struct stream_users {
  bool reader_seen = false;
  always_run_record* reader = nullptr;  // first reader; null: the test bench
  bool writer_seen = false;
  always_run_record* writer = nullptr;  // first writer; null: the test bench
  // Further distinct readers and writers, in the order first seen. All are
  // kept: a stream's destructor stops every component that used it.
  std::vector<always_run_record*> extra_readers;
  std::vector<always_run_record*> extra_writers;

  bool several_readers() const { return !extra_readers.empty(); }
  bool several_writers() const { return !extra_writers.empty(); }
};

class stream_endpoints {
 public:
  stream_endpoints() = default;
  stream_endpoints(const stream_endpoints&) = delete;
  stream_endpoints& operator=(const stream_endpoints&) = delete;

  // ---- Hot path: the stream's mutex is held --------------------------------
  void saw_reader(always_run_record* user) {
    if (user != reader_) {
      note_other(user, reader_, &extra::readers);
    }
  }
  void saw_writer(always_run_record* user) {
    if (user != writer_) {
      note_other(user, writer_, &extra::writers);
    }
  }

  // True when exactly one reader (writer) was seen: `who`, null for the
  // test bench. Before any was seen, false with `who` null, so that a caller
  // may test `who` whatever the answer. Requires the stream's mutex.
  bool sole_reader(const always_run_record*& who) const { return sole(reader_, who); }
  bool sole_writer(const always_run_record*& who) const { return sole(writer_, who); }

  // The users seen so far. Requires the stream's mutex.
  stream_users users() const {
    stream_users seen;
    seen.reader_seen = reader_ != unseen();
    seen.reader = seen.reader_seen ? reader_ : nullptr;
    seen.writer_seen = writer_ != unseen();
    seen.writer = seen.writer_seen ? writer_ : nullptr;
    if (extras_ != nullptr) {
      seen.extra_readers = extras_->readers;
      seen.extra_writers = extras_->writers;
    }
    return seen;
  }

 private:
  struct extra {
    std::vector<always_run_record*> readers;
    std::vector<always_run_record*> writers;
  };

  // The marker of "no user seen yet": an address that no record has.
  static always_run_record* unseen() {
    static char marker = 0;  // never written
    return reinterpret_cast<always_run_record*>(&marker);
  }

  bool sole(const always_run_record* first, const always_run_record*& who) const {
    if (first == unseen()) {
      who = nullptr;
      return false;
    }
    who = first;
    return extras_ == nullptr || (extras_->readers.empty() && extras_->writers.empty());
  }

  static bool has_ended(const always_run_record* user) {
    return user != nullptr && user->ended.load(std::memory_order_acquire);
  }

  // A user other than the first: one among the extras stays there (it ran
  // beside the first, so both stay users once the first has ended); any
  // other becomes the first (when there was none, or the first has ended), or
  // joins the extras, which drop the ended ones.
  __attribute__((noinline)) void note_other(always_run_record* user, always_run_record*& first,
                                            std::vector<always_run_record*> extra::*list) {
    std::vector<always_run_record*>* others = extras_ != nullptr ? &((*extras_).*list) : nullptr;
    if (others != nullptr && std::find(others->begin(), others->end(), user) != others->end()) {
      return;
    }
    if (first == unseen() || has_ended(first)) {
      first = user;
      return;
    }
    try {
      if (others == nullptr) {
        extras_ = std::make_unique<extra>();
        others = &((*extras_).*list);
      }
      std::size_t kept = 0;
      for (always_run_record* known : *others) {
        if (!has_ended(known)) {
          (*others)[kept++] = known;
        }
      }
      others->resize(kept);
      others->push_back(user);
    } catch (...) {  // out of memory: the extra user is not kept
    }
  }

  always_run_record* reader_ = unseen();
  always_run_record* writer_ = unseen();
  std::unique_ptr<extra> extras_;  // null until a second reader or writer
};

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_STREAM_ENDPOINTS_H
