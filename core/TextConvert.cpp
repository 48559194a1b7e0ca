#include "core/TextConvert.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace tesel {

namespace {

// UTF-16 text in the Win32 code unit (wchar_t on Windows, char16_t elsewhere).
using WideString = std::basic_string<WCHAR>;

// Whole-string conversions through the Win32 calls; the lengths are passed
// explicitly so embedded zero bytes survive and no terminator is counted.
WideString toWide(UINT codePage, const char* text, std::size_t n) {
    if (text == nullptr || n == 0 || n > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return {};
    }
    const int len = static_cast<int>(n);
    const int need = MultiByteToWideChar(codePage, 0, text, len, nullptr, 0);
    if (need <= 0) return {};
    WideString out(static_cast<std::size_t>(need), WCHAR{0});
    const int got = MultiByteToWideChar(codePage, 0, text, len, out.data(), need);
    out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return out;
}

std::string fromWide(UINT codePage, const WCHAR* text, std::size_t n) {
    if (text == nullptr || n == 0 || n > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return {};
    }
    const int len = static_cast<int>(n);
    const int need = WideCharToMultiByte(codePage, 0, text, len, nullptr, 0, nullptr, nullptr);
    if (need <= 0) return {};
    std::string out(static_cast<std::size_t>(need), '\0');
    const int got = WideCharToMultiByte(codePage, 0, text, len, out.data(), need, nullptr, nullptr);
    out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return out;
}

std::size_t wideLength(const WCHAR* text) {
    std::size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

}  // namespace

std::string convertToUTF8(const char* ansi) {
    if (ansi == nullptr) return {};
    return convertToUTF8(std::string(ansi));
}

std::string convertToUTF8(const std::string& ansi) {
    const WideString wide = toWide(CP_ACP, ansi.data(), ansi.size());
    return fromWide(CP_UTF8, wide.data(), wide.size());
}

std::string convertFromUTF8(const char* utf8) {
    if (utf8 == nullptr) return {};
    return convertFromUTF8(std::string(utf8));
}

std::string convertFromUTF8(const std::string& utf8) {
    const WideString wide = toWide(CP_UTF8, utf8.data(), utf8.size());
    return fromWide(CP_ACP, wide.data(), wide.size());
}

WCHAR* convertToWideChar(const std::string* ansi) {
    const WideString wide = ansi ? toWide(CP_ACP, ansi->data(), ansi->size()) : WideString();
    auto* out = static_cast<WCHAR*>(std::malloc((wide.size() + 1) * sizeof(WCHAR)));
    if (out == nullptr) throw std::bad_alloc();
    if (!wide.empty()) std::memcpy(out, wide.data(), wide.size() * sizeof(WCHAR));
    out[wide.size()] = 0;
    return out;
}

std::string convertToChar(const WCHAR* wide) {
    if (wide == nullptr) return {};
    return fromWide(CP_ACP, wide, wideLength(wide));
}

}  // namespace tesel
