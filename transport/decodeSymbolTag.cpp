#include "transport/decodeSymbolTag.h"

#include <algorithm>

#include "core/TextConvert.h"

namespace qn::http_transport {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The code unit of the four hex digits at text[at], or -1.
long hexUnit(const std::string& text, std::size_t at) {
    long unit = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const int digit = hexValue(text[at + i]);
        if (digit < 0) return -1;
        unit = unit * 16 + digit;
    }
    return unit;
}

}  // namespace

std::string decodeSymbolTag(const std::string* text, unsigned begin, unsigned end) {
    if (text == nullptr) return {};
    const std::size_t stop = std::min<std::size_t>(end, text->size());
    if (begin >= stop) return {};

    // 128 units and the terminating zero, as the wide-to-narrow step reads it.
    WCHAR units[kMaxSymbolTagUnits + 1] = {};
    unsigned count = 0;
    std::size_t i = begin;
    while (i < stop) {
        WCHAR unit = 0;
        const char c = (*text)[i];
        const long escaped = c == '\\' && i + 6 <= stop && (*text)[i + 1] == 'u' ? hexUnit(*text, i + 2) : -1;
        if (c != '\\') {
            unit = static_cast<unsigned char>(c);
            i += 1;
        } else if (escaped >= 0) {
            unit = static_cast<WCHAR>(escaped);
            i += 6;
        } else if (i + 1 < stop) {
            // Any other escape: the backslash goes, the next character stays.
            unit = static_cast<unsigned char>((*text)[i + 1]);
            i += 2;
        } else {
            break;  // a lone backslash at the very end
        }
        if (count == kMaxSymbolTagUnits) return {};
        units[count++] = unit;
    }
    units[count] = 0;
    return tesel::convertToChar(units);
}

}  // namespace qn::http_transport
