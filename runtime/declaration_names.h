// Names of streams after the place where they are declared, for streams that
// have neither a name of their own nor a symbol.
#ifndef QRN_RUNTIME_DECLARATION_NAMES_H
#define QRN_RUNTIME_DECLARATION_NAMES_H

#include <cstddef>
#include <string>
#include <vector>

#include "HLS/internal/declaration_site.h"

namespace qrn_runtime {

// `IDENTIFIER (FILE:LINE)` when the source line at `site` plainly declares
// streams (`qrn::stream_in<int> samples;`, `... samples{...};`,
// `... lanes[4];`, `... a, b;`) and the one constructed there can be told:
// the only one, the one at the site's column or, without a column, the one
// whose turn it is by `ordinal` (the stream's ordinal_at_site()) when none is
// an array. Else `FILE:LINE`; FILE without its directories. Empty when the
// site is unknown. Reads the source file; thread-safe.
std::string declaration_name(const qrn::internal::declaration_site& site, unsigned int ordinal);

// How the source line at `site` declares the variable `identifier`.
struct declared_shape {
  bool read = false;   // the line could be read
  bool array = false;  // it plainly declares streams, `identifier` among them with extents
  std::vector<std::size_t> extents;  // `[4][16]`: 4, 16; empty when one is not a number
};

// The shape of the variable `identifier` as the line at `site` declares it;
// an object made at a class head or a constructor (a member) is no array.
// Reads the source file; thread-safe.
declared_shape declared_shape_at(const qrn::internal::declaration_site& site,
                                 const std::string& identifier);

}  // namespace qrn_runtime

#endif  // QRN_RUNTIME_DECLARATION_NAMES_H
