// Expected card bytes built by hand, independently of CBlob and of the card
// writer: every helper appends one encoded field.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/CBlob.h"
#include "platform/win32.h"

namespace cardtest {

struct Bytes {
    std::vector<unsigned char> v;

    Bytes& raw(std::initializer_list<int> bytes) {
        for (int b : bytes) v.push_back(static_cast<unsigned char>(b));
        return *this;
    }
    Bytes& raw(const Bytes& other) {
        v.insert(v.end(), other.v.begin(), other.v.end());
        return *this;
    }
    Bytes& u32(std::uint32_t x) {
        for (int i = 0; i < 4; ++i) v.push_back(static_cast<unsigned char>(x >> (8 * i)));
        return *this;
    }
    Bytes& flag(bool b) {
        v.push_back(b ? 1 : 0);
        return *this;
    }
    Bytes& str(const std::string& s) {
        u32(static_cast<std::uint32_t>(s.size()));
        v.insert(v.end(), s.begin(), s.end());
        return *this;
    }
    Bytes& time(const SYSTEMTIME& t) {
        u32(16);
        for (WORD w : {t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond,
                       t.wMilliseconds}) {
            v.push_back(static_cast<unsigned char>(w));
            v.push_back(static_cast<unsigned char>(w >> 8));
        }
        return *this;
    }
    Bytes& blob(const Bytes& inner) {
        u32(static_cast<std::uint32_t>(inner.v.size()));
        return raw(inner);
    }
    std::size_t size() const { return v.size(); }

    tesel::CBlob toBlob() const {
        return tesel::CBlob(v.data(), static_cast<unsigned>(v.size()));
    }
};

inline std::vector<unsigned char> bytesOf(const tesel::CBlob& b) {
    return std::vector<unsigned char>(b.getData(), b.getData() + b.getSize());
}

inline SYSTEMTIME makeTime(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0) {
    SYSTEMTIME t{};
    t.wYear = y;
    t.wMonth = mo;
    t.wDay = d;
    t.wHour = h;
    t.wMinute = mi;
    t.wSecond = s;
    return t;
}

}  // namespace cardtest
