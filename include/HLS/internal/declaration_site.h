// Where a stream was declared: the source file, line and (where the compiler
// tells it) column of the expression that constructed it, captured at no cost
// per operation by a defaulted constructor argument.
//
// `declaration_site::here()` as a default argument names the caller's file
// and line under both g++ and clang++, and its column under clang++ (the
// column of the declared identifier; g++ has no `__builtin_COLUMN`, so 0). A
// stream that is a member of an object whose constructor is implicit gets the
// line of the class head (`struct pipe {`); with a user-written constructor,
// the line of that constructor.
//
// Without a column, the streams that one line declares (`stream_out<int> a,
// b;`) are told apart by their order: `site_ordinal()` counts the streams
// this thread constructed at the same site just before, with no stream
// destroyed in between, so that `a` gets 0 and `b` 1 each time the line runs.
#ifndef QRN_HLS_INTERNAL_DECLARATION_SITE_H
#define QRN_HLS_INTERNAL_DECLARATION_SITE_H

#include <cstring>

#ifdef __has_builtin
#if __has_builtin(__builtin_COLUMN)
#define QRN_INTERNAL_HAVE_BUILTIN_COLUMN 1
#endif
#endif

namespace qrn {
namespace internal {

struct declaration_site {
  const char* file;  // as the compiler was given it; a string literal, never freed
  int line;
  int column;  // from 1; 0 when unknown

  // The file, line and column of the call whose default argument this is.
#ifdef QRN_INTERNAL_HAVE_BUILTIN_COLUMN
  static constexpr declaration_site here(const char* file = __builtin_FILE(),
                                         int line = __builtin_LINE(),
                                         int column = __builtin_COLUMN()) {
    return declaration_site{file, line, column};
  }
#else
  static constexpr declaration_site here(const char* file = __builtin_FILE(),
                                         int line = __builtin_LINE()) {
    return declaration_site{file, line, 0};
  }
#endif

  bool same_place(const declaration_site& other) const {
    return line == other.line && column == other.column &&
           (file == other.file ||
            (file != nullptr && other.file != nullptr && std::strcmp(file, other.file) == 0));
  }
};

// The last site where this thread constructed a stream, and how many it
// constructed there in a row; see site_ordinal().
struct site_run {
  declaration_site site{nullptr, 0, 0};
  unsigned int count = 0;
};

inline site_run& this_thread_site_run() {
  static thread_local site_run run;
  return run;
}

// Called by every stream's construction: how many streams this thread
// constructed at `site` just before this one since it last destroyed one.
inline unsigned int site_ordinal(const declaration_site& site) {
  site_run& run = this_thread_site_run();
  run.count = run.site.same_place(site) ? run.count + 1 : 0;
  run.site = site;
  return run.count;
}

// Called by every stream's destruction: the next construction starts a new run.
inline void end_site_run() { this_thread_site_run().site = declaration_site{nullptr, 0, 0}; }

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_DECLARATION_SITE_H
