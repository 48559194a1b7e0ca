// MultiByteToWideChar/WideCharToMultiByte for the code pages the program
// uses: CP_ACP (Windows-1251 on the systems it is written for) and UTF-8.
// Invalid UTF-8 becomes U+FFFD per maximal ill-formed subsequence (or fails
// with MB_ERR_INVALID_CHARS); lone surrogates going to UTF-8 become U+FFFD
// (or fail with WC_ERR_INVALID_CHARS); characters missing from CP1251 become
// the default character '?'.
#include <cstring>
#include <string>
#include <string_view>

#include "platform/win32.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Windows-1251, bytes 0x80..0xFF. 0x98 is unassigned and maps to U+0098.
constexpr char16_t kCp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // F8
};

// UTF-16 code unit -> CP1251 byte, or -1 when the character is missing.
int toCp1251(char16_t c) {
    if (c < 0x80) return c;
    if (c >= 0x0410 && c <= 0x044F) return 0xC0 + (c - 0x0410);
    for (int i = 0; i < 0x40; ++i) {
        if (kCp1251High[i] == c) return 0x80 + i;
    }
    return -1;
}

bool isAnsiCodePage(UINT cp) { return cp == CP_ACP || cp == CP_THREAD_ACP || cp == 1251; }

// Decodes UTF-8; returns false on the first invalid sequence when strict.
bool decodeUtf8(const unsigned char* s, std::size_t n, bool strict, std::u16string& out) {
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = s[i];
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        unsigned need = 0;
        char32_t cp = 0;
        unsigned char lo = 0x80;
        unsigned char hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            cp = b & 0x0F;
            if (b == 0xE0) lo = 0xA0;  // overlong
            if (b == 0xED) hi = 0x9F;  // surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            cp = b & 0x07;
            if (b == 0xF0) lo = 0x90;  // overlong
            if (b == 0xF4) hi = 0x8F;  // above U+10FFFF
        } else {
            if (strict) return false;
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        // Take continuation bytes while they fit; a broken sequence is
        // replaced by one U+FFFD and decoding resumes at the offending byte.
        std::size_t j = i + 1;
        unsigned got = 0;
        while (got < need && j < n) {
            const unsigned char c = s[j];
            const unsigned char min = got == 0 ? lo : 0x80;
            const unsigned char max = got == 0 ? hi : 0xBF;
            if (c < min || c > max) break;
            cp = (cp << 6) | (c & 0x3F);
            ++got;
            ++j;
        }
        if (got < need) {
            if (strict) return false;
            out.push_back(kReplacement);
            i = j;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i = j;
    }
    return true;
}

void putUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool encodeUtf8(const char16_t* s, std::size_t n, bool strict, std::string& out) {
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            putUtf8(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (s[i + 1] - 0xDC00), out);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            if (strict) return false;
            putUtf8(kReplacement, out);
        } else {
            putUtf8(c, out);
        }
    }
    return true;
}

void encodeAnsi(const char16_t* s, std::size_t n, char defaultChar, bool& usedDefault,
                std::string& out) {
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = s[i];
        const int b = toCp1251(c);
        if (b >= 0) {
            out.push_back(static_cast<char>(b));
            continue;
        }
        // A surrogate pair is one character and gets one default character.
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            ++i;
        }
        out.push_back(defaultChar);
        usedDefault = true;
    }
}

template <typename Unit>
int deliver(const std::basic_string<Unit>& result, Unit* dst, int dstCount) {
    if (result.size() > 0x7FFFFFFF) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    const int n = static_cast<int>(result.size());
    if (dstCount == 0) return n;  // size query
    if (n > dstCount) {
        std::memcpy(dst, result.data(), static_cast<std::size_t>(dstCount) * sizeof(Unit));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(dst, result.data(), static_cast<std::size_t>(n) * sizeof(Unit));
    return n;
}

// Sets the thread's last error and gives the conversions' failure result.
int fail(DWORD error) {
    SetLastError(error);
    return 0;
}

// The argument checks both conversions make. On success n is the number of
// source units, the terminating zero included when srcCount is -1.
template <typename Unit>
bool sourceLength(const Unit* src, int srcCount, const void* dst, int dstCount, std::size_t& n) {
    if (src == nullptr || srcCount == 0 || srcCount < -1 || dstCount < 0 ||
        (dstCount > 0 && dst == nullptr))
        return false;
    n = srcCount == -1 ? std::basic_string_view<Unit>(src).size() + 1
                       : static_cast<std::size_t>(srcCount);
    return true;
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcCount, LPWSTR dst,
                        int dstCount) {
    std::size_t n = 0;
    if (!sourceLength(src, srcCount, dst, dstCount, n)) return fail(ERROR_INVALID_PARAMETER);
    const auto* bytes = reinterpret_cast<const unsigned char*>(src);
    std::u16string result;
    result.reserve(n);
    if (isAnsiCodePage(codePage)) {
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned char b = bytes[i];
            result.push_back(b < 0x80 ? static_cast<char16_t>(b) : kCp1251High[b - 0x80]);
        }
    } else if (codePage == CP_UTF8) {
        if (!decodeUtf8(bytes, n, (flags & MB_ERR_INVALID_CHARS) != 0, result))
            return fail(ERROR_NO_UNICODE_TRANSLATION);
    } else {
        return fail(ERROR_INVALID_PARAMETER);
    }
    return deliver(result, dst, dstCount);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcCount, LPSTR dst,
                        int dstCount, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
    std::size_t n = 0;
    if (!sourceLength(src, srcCount, dst, dstCount, n)) return fail(ERROR_INVALID_PARAMETER);
    std::string result;
    result.reserve(n);
    if (isAnsiCodePage(codePage)) {
        bool used = false;
        encodeAnsi(src, n, defaultChar ? *defaultChar : '?', used, result);
        if (usedDefaultChar) *usedDefaultChar = used ? TRUE : FALSE;
    } else if (codePage == CP_UTF8) {
        // UTF-8 has no default character; Windows refuses these arguments.
        if (defaultChar != nullptr || usedDefaultChar != nullptr) return fail(ERROR_INVALID_PARAMETER);
        if (!encodeUtf8(src, n, (flags & WC_ERR_INVALID_CHARS) != 0, result))
            return fail(ERROR_NO_UNICODE_TRANSLATION);
    } else {
        return fail(ERROR_INVALID_PARAMETER);
    }
    return deliver(result, dst, dstCount);
}
