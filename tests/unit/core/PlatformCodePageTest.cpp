#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"

namespace {

std::u16string toWide(const std::string& s, UINT cp = CP_UTF8, DWORD flags = 0) {
    const int n = MultiByteToWideChar(cp, flags, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::u16string out(static_cast<std::size_t>(n > 0 ? n : 0), u'\0');
    if (n > 0) MultiByteToWideChar(cp, flags, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

std::string toNarrow(const std::u16string& s, UINT cp = CP_UTF8) {
    const int n = WideCharToMultiByte(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) {
        WideCharToMultiByte(cp, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr,
                            nullptr);
    }
    return out;
}

}  // namespace

TEST(PlatformCodePage, Utf8FourByteCharactersUseSurrogatePairs) {
    const std::string utf8 = "a\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF" "b";  // 😀 and U+10FFFF
    const std::u16string wide = toWide(utf8);
    EXPECT_EQ(wide, (std::u16string{u'a', 0xD83D, 0xDE00, 0xDBFF, 0xDFFF, u'b'}));
    EXPECT_EQ(toNarrow(wide), utf8);
    // Every boundary of the encoding lengths survives a round trip.
    const std::string edges = "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80";
    EXPECT_EQ(toNarrow(toWide(edges)), edges);
}

TEST(PlatformCodePage, InvalidUtf8IsReplacedOrRefused) {
    const char16_t R = 0xFFFD;
    EXPECT_EQ(toWide("a\xC3"), (std::u16string{u'a', R}));               // cut short at the end
    EXPECT_EQ(toWide("\xE2\x82" "b"), (std::u16string{R, u'b'}));        // cut short, one U+FFFD
    EXPECT_EQ(toWide("\xC0\xAF"), (std::u16string{R, R}));               // overlong
    EXPECT_EQ(toWide("\xED\xA0\x80"), (std::u16string{R, R, R}));        // encoded surrogate
    EXPECT_EQ(toWide("\xF4\x90\x80\x80"), (std::u16string{R, R, R, R})); // above U+10FFFF
    EXPECT_EQ(toWide("\x80" "x\xFF"), (std::u16string{R, u'x', R}));     // stray bytes

    const std::string bad = "ok\xC3";
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bad.data(), 3, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(PlatformCodePage, LengthsAndBuffers) {
    // -1: zero-terminated, and the count includes the terminator.
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xD0\x90\xD0\x91", -1, nullptr, 0), 3);
    WCHAR buf[3] = {1, 1, 1};
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\xC0\xC1", -1, buf, 3), 3);
    EXPECT_EQ(buf[0], 0x0410);
    EXPECT_EQ(buf[2], 0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u0410", -1, nullptr, 0, nullptr, nullptr), 3);

    // Too small a buffer.
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abcd", 4, buf, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    char nb[2];
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u0410", 1, nb, 1, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

    // Bad arguments.
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", 0, buf, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, 1, buf, 3), 0);
    EXPECT_EQ(MultiByteToWideChar(12345, 0, "a", 1, buf, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(PlatformCodePage, DefaultCharacterForAnsi) {
    const std::u16string text = u"a\u00E9\u0416\U0001F600";  // a é Ж 😀
    BOOL used = FALSE;
    char out[8] = {};
    int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out,
                                sizeof out, nullptr, &used);
    EXPECT_EQ(std::string(out, static_cast<std::size_t>(n)), "a?\xC6?");
    EXPECT_TRUE(used);

    n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out, sizeof out,
                            "*", &used);
    EXPECT_EQ(std::string(out, static_cast<std::size_t>(n)), "a*\xC6*");

    n = WideCharToMultiByte(CP_ACP, 0, u"\u0401\u2116", 2, out, sizeof out, nullptr, &used);
    EXPECT_EQ(std::string(out, static_cast<std::size_t>(n)), "\xA8\xB9");
    EXPECT_FALSE(used);

    // UTF-8 has no default character: Windows refuses these arguments.
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, out, sizeof out, nullptr, &used), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(PlatformCodePage, LoneSurrogatesToUtf8) {
    const std::u16string lone{u'a', 0xD800, u'b', 0xDC00};
    EXPECT_EQ(toNarrow(lone), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone.data(), 4, nullptr, 0,
                                  nullptr, nullptr),
              0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}
