// Byte strings of the CA peer and the little-endian record form of the
// transport format: u32 values, and blobs/strings as a u32 length followed by
// the bytes. The reader never runs past the end: a short read takes nothing
// and marks it bad for good.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace capeer {

using Bytes = std::vector<unsigned char>;

inline Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline std::string textOf(const Bytes& b) { return std::string(b.begin(), b.end()); }

class Reader {
public:
    explicit Reader(const Bytes& data, std::size_t from = 0) : m_data(data), m_pos(from) {}

    std::uint32_t u32() {
        if (!need(4)) return 0;
        const unsigned char* p = m_data.data() + m_pos;
        m_pos += 4;
        return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    }
    Bytes take(std::size_t n) {
        if (!need(n)) return {};
        Bytes out(m_data.begin() + static_cast<long>(m_pos), m_data.begin() + static_cast<long>(m_pos + n));
        m_pos += n;
        return out;
    }
    Bytes blob() {
        const std::uint32_t n = u32();
        return m_bad ? Bytes() : take(n);
    }
    std::string str() { return textOf(blob()); }
    bool startsWith(const std::string& s) const {
        return left() >= s.size() && std::equal(s.begin(), s.end(), m_data.begin() + static_cast<long>(m_pos));
    }
    void skip(std::size_t n) { take(n); }

    bool bad() const { return m_bad; }
    std::size_t pos() const { return m_pos; }
    std::size_t left() const { return m_pos < m_data.size() ? m_data.size() - m_pos : 0; }

private:
    bool need(std::size_t n) {
        if (m_bad || left() < n) {
            m_bad = true;
            return false;
        }
        return true;
    }
    const Bytes& m_data;
    std::size_t m_pos;
    bool m_bad = false;
};

class Writer {
public:
    Writer& u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) m_out.push_back(static_cast<unsigned char>(v >> (8 * i)));
        return *this;
    }
    Writer& raw(const Bytes& b) {
        // Reserved and appended rather than a range insert, which GCC 12 at
        // -O3 reports as a possible overflow once this is inlined.
        m_out.reserve(m_out.size() + b.size());
        std::copy(b.begin(), b.end(), std::back_inserter(m_out));
        return *this;
    }
    Writer& raw(const std::string& s) {
        m_out.insert(m_out.end(), s.begin(), s.end());
        return *this;
    }
    Writer& blob(const Bytes& b) { return u32(static_cast<std::uint32_t>(b.size())).raw(b); }
    Writer& str(const std::string& s) { return u32(static_cast<std::uint32_t>(s.size())).raw(s); }
    const Bytes& bytes() const { return m_out; }
    Bytes take() { return std::move(m_out); }

private:
    Bytes m_out;
};

inline std::string hexOf(const Bytes& b) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(b.size() * 2);
    for (unsigned char c : b) {
        s.push_back(digits[c >> 4]);
        s.push_back(digits[c & 15]);
    }
    return s;
}

// Empty for text that is not whole hex pairs.
inline Bytes unhex(const std::string& s) {
    auto val = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    Bytes out;
    if (s.size() % 2) return out;
    for (std::size_t i = 0; i < s.size(); i += 2) {
        const int hi = val(s[i]), lo = val(s[i + 1]);
        if (hi < 0 || lo < 0) return {};
        out.push_back(static_cast<unsigned char>(hi * 16 + lo));
    }
    return out;
}

}  // namespace capeer
