#include "crypto/OidDer.h"

#include <vector>

namespace qn::crypto {

namespace {

void base128(std::vector<unsigned char>& out, unsigned long long v) {
    unsigned char tmp[10];
    int n = 0;
    do {
        tmp[n++] = static_cast<unsigned char>(v & 0x7F);
        v >>= 7;
    } while (v);
    while (n-- > 0) {
        out.push_back(static_cast<unsigned char>(tmp[n] | (n > 0 ? 0x80 : 0)));
    }
}

}  // namespace

tesel::CBlob encodeOidDer(const std::string& dotted) {
    std::vector<unsigned long long> arcs;
    unsigned long long cur = 0;
    bool digit = false;
    for (char c : dotted) {
        if (c >= '0' && c <= '9' && cur <= (~0ULL - 9) / 10) {
            cur = cur * 10 + static_cast<unsigned>(c - '0');
            digit = true;
        } else if (c == '.' && digit) {
            arcs.push_back(cur);
            cur = 0;
            digit = false;
        } else {
            return {};
        }
    }
    if (!digit) {
        return {};
    }
    arcs.push_back(cur);
    if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] > 39)) {
        return {};
    }
    std::vector<unsigned char> content;
    base128(content, arcs[0] * 40 + arcs[1]);
    for (std::size_t i = 2; i < arcs.size(); ++i) {
        base128(content, arcs[i]);
    }
    std::vector<unsigned char> der{0x06};
    if (content.size() < 0x80) {
        der.push_back(static_cast<unsigned char>(content.size()));
    } else if (content.size() < 0x100) {
        der.push_back(0x81);
        der.push_back(static_cast<unsigned char>(content.size()));
    } else {
        return {};
    }
    der.insert(der.end(), content.begin(), content.end());
    return tesel::CBlob(der.data(), static_cast<unsigned>(der.size()));
}

}  // namespace qn::crypto
