// Where a parse failed, as a person looks for it: the parsers' reasons start
// "offset N: " with a byte offset, which an editor does not show.
#pragma once

#include <string>
#include <string_view>

namespace cfgkit {

// The parser's "offset N: reason" as "line L, column C: reason", counted in
// `document`, the bytes as they were parsed (columns in bytes, from 1). A
// reason without an offset was found before any line (the encoding, say) and
// is placed at line 1, column 1; one with an offset beyond the document is
// returned as it is.
std::string WithLineAndColumn(const std::string& reason, std::string_view document);

}  // namespace cfgkit
