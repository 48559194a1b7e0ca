#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/TextConvert.h"

using namespace tesel;

namespace {

// "Привет, Ёжик ё №5" in CP1251 and in UTF-8.
const std::string kAnsi = "\xCF\xF0\xE8\xE2\xE5\xF2, \xA8\xE6\xE8\xEA \xB8 \xB9" "5";
const std::string kUtf8 =
    "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\x81\xD0\xB6\xD0\xB8\xD0\xBA "
    "\xD1\x91 \xE2\x84\x96" "5";

}  // namespace

TEST(TextConvert, AnsiToUtf8AndBack) {
    EXPECT_EQ(convertToUTF8(kAnsi), kUtf8);
    EXPECT_EQ(convertToUTF8(kAnsi.c_str()), kUtf8);
    EXPECT_EQ(convertFromUTF8(kUtf8), kAnsi);
    EXPECT_EQ(convertFromUTF8(kUtf8.c_str()), kAnsi);
    EXPECT_EQ(convertToUTF8("\xA8"), "\xD0\x81");      // Ё
    EXPECT_EQ(convertToUTF8("\xB8"), "\xD1\x91");      // ё
    EXPECT_EQ(convertToUTF8("\xB9"), "\xE2\x84\x96");  // №
    EXPECT_EQ(convertToUTF8("\x88"), "\xE2\x82\xAC");  // €
    EXPECT_EQ(convertToUTF8("\x98"), "\xC2\x98");      // unassigned: U+0098
    EXPECT_EQ(convertToUTF8("\xFF"), "\xD1\x8F");      // я
}

TEST(TextConvert, EveryAnsiByteRoundTrips) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const std::string utf8 = convertToUTF8(all);
    EXPECT_EQ(convertFromUTF8(utf8), all);
    // The embedded zero byte survives as well.
    EXPECT_EQ(utf8[0], '\0');

    WCHAR* wide = convertToWideChar(&all);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide[0xC0], u'\u0410');
    EXPECT_EQ(wide[0xB9], u'\u2116');
    EXPECT_EQ(wide[256], 0);
    // convertToChar stops at the first zero, so start after it.
    EXPECT_EQ(convertToChar(wide + 1), all.substr(1));
    std::free(wide);
}

TEST(TextConvert, NullAndEmptyInputs) {
    EXPECT_EQ(convertToUTF8(static_cast<const char*>(nullptr)), "");
    EXPECT_EQ(convertFromUTF8(static_cast<const char*>(nullptr)), "");
    EXPECT_EQ(convertToUTF8(std::string()), "");
    EXPECT_EQ(convertFromUTF8(std::string()), "");
    EXPECT_EQ(convertToChar(nullptr), "");
    WCHAR* wide = convertToWideChar(nullptr);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide[0], 0);
    std::free(wide);
    const std::string empty;
    wide = convertToWideChar(&empty);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide[0], 0);
    std::free(wide);
}

TEST(TextConvert, CharactersMissingFromAnsiBecomeQuestionMarks) {
    // "A😀é中B": the emoji is one character, é and 中 are not in CP1251.
    EXPECT_EQ(convertFromUTF8("A\xF0\x9F\x98\x80\xC3\xA9\xE4\xB8\xAD" "B"), "A???B");
    // Invalid UTF-8 is replaced, never passed through.
    EXPECT_EQ(convertFromUTF8("x\xFFy\xC3"), "x?y?");
}

TEST(TextConvert, WideCopyIsZeroTerminatedUtf16) {
    const std::string text = "\xC0\xE1\xE2";  // Абв
    WCHAR* wide = convertToWideChar(&text);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(std::u16string(wide), u"\u0410\u0431\u0432");
    EXPECT_EQ(convertToChar(wide), text);
    std::free(wide);
    EXPECT_EQ(convertToChar(u"\u0401\u0451\u2116"), "\xA8\xB8\xB9");
}
