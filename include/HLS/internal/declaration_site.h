// Where a stream was declared: the source file and line of the expression
// that constructed it, captured at no cost per operation by a defaulted
// constructor argument.
//
// `declaration_site::here()` as a default argument names the caller's file
// and line under both g++ and clang++. A stream that is a member of an object
// whose constructor is implicit gets the line of the class head (`struct
// pipe {`); with a user-written constructor, the line of that constructor.
#ifndef QRN_HLS_INTERNAL_DECLARATION_SITE_H
#define QRN_HLS_INTERNAL_DECLARATION_SITE_H

namespace qrn {
namespace internal {

struct declaration_site {
  const char* file;  // as the compiler was given it; a string literal, never freed
  int line;

  // The file and line of the call whose default argument this is.
  static constexpr declaration_site here(const char* file = __builtin_FILE(),
                                         int line = __builtin_LINE()) {
    return declaration_site{file, line};
  }
};

}  // namespace internal
}  // namespace qrn

#endif  // QRN_HLS_INTERNAL_DECLARATION_SITE_H
