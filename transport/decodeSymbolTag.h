// Decoding of a string value cut out of a registry or classifier answer
// (JSON text): \uXXXX escapes become UTF-16 code units, any other backslash
// escape keeps the escaped character, every other byte is taken as the code
// unit of the same value. The result is in the program's 8-bit code page.
#pragma once

#include <string>

namespace qn::http_transport {

// The longest value kept, in UTF-16 code units; a longer one decodes to "".
inline constexpr unsigned kMaxSymbolTagUnits = 128;

// Decodes the characters [begin, end) of *text. A range that runs past the
// text is cut at its end; a null text or an empty range gives "". A \u0000
// escape ends the value (the units are handed on as a zero-terminated text).
std::string decodeSymbolTag(const std::string* text, unsigned begin, unsigned end);

}  // namespace qn::http_transport
