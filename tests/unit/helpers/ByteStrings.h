// Byte strings for building and reading wire data in tests: text <-> CBlob,
// little-endian 32-bit values and length-prefixed fields.
#pragma once

#include <string>

#include "core/CBlob.h"

namespace test_bytes {

inline tesel::CBlob blobOf(const std::string& s) {
    return tesel::CBlob(reinterpret_cast<const unsigned char*>(s.data()), static_cast<unsigned>(s.size()));
}

inline std::string text(const tesel::CBlob& b) {
    return std::string(reinterpret_cast<const char*>(b.getData()), b.getSize());
}

// Bytes of a little-endian 32-bit value.
inline std::string le32(unsigned v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

// A field with its u32 length in front.
inline std::string lp(const std::string& bytes) { return le32(static_cast<unsigned>(bytes.size())) + bytes; }

}  // namespace test_bytes
