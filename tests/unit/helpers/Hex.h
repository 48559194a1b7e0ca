// Hex text of byte strings in tests (lower case out; either case in).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace test_hex {

inline std::string toHex(const unsigned char* p, std::size_t n) {
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s.push_back(d[p[i] >> 4]);
        s.push_back(d[p[i] & 15]);
    }
    return s;
}

// Pairs of hex digits; anything else (spaces, line breaks) is skipped.
inline std::vector<unsigned char> fromHex(const std::string& hex) {
    std::vector<unsigned char> out;
    auto val = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    int hi = -1;
    for (char c : hex) {
        const int v = val(c);
        if (v < 0) continue;
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<unsigned char>(hi * 16 + v));
            hi = -1;
        }
    }
    return out;
}

}  // namespace test_hex
