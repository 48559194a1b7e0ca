// The DER encoder: definite lengths in both forms, OIDs with arcs of any
// size, the string kinds and their tags, the small primitives.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "CspTestSupport.h"
#include "core/TextConvert.h"
#include "crypto/C_ASN1.h"

using tesel::C_ASN1;
using tesel::CBlob;
using testutil::Bytes;

namespace {

std::string hex(const CBlob& b) { return testutil::toHex(Bytes(b.getData(), b.getData() + b.getSize())); }

CBlob blobOf(const std::string& hexText) {
    const Bytes b = testutil::fromHex(hexText);
    return CBlob(b.data(), static_cast<unsigned>(b.size()));
}

}  // namespace

TEST(C_ASN1, DefiniteLengthShortAndLongForms) {
    struct Case {
        unsigned length;
        std::string header;
    };
    const Case cases[] = {{0, "0400"},       {1, "0401"},         {127, "047f"},         {128, "048180"},
                          {255, "0481ff"},   {256, "04820100"},   {65535, "0482ffff"},   {65536, "0483010000"},
                          {70000, "0483011170"}};
    for (const Case& c : cases) {
        const std::vector<unsigned char> content(c.length, 0x5A);
        const CBlob der = C_ASN1::encodeOctetString(content.data(), c.length);
        const std::size_t headerBytes = c.header.size() / 2;
        ASSERT_EQ(der.getSize(), headerBytes + c.length) << c.length;
        EXPECT_EQ(hex(CBlob(der.getData(), static_cast<unsigned>(headerBytes))), c.header) << c.length;
        EXPECT_EQ(C_ASN1::lengthSize(c.length), headerBytes - 1) << c.length;
        if (c.length > 0) {
            EXPECT_EQ(der[der.getSize() - 1], 0x5A);
        }
    }
    EXPECT_EQ(C_ASN1::lengthSize(0xFFFFFF), 4u);
    EXPECT_EQ(C_ASN1::lengthSize(0x1000000), 5u);
}

TEST(C_ASN1, ObjectIdentifiers) {
    EXPECT_EQ(hex(C_ASN1::encode_ObjId("2.5.4.3")), "0603550403");
    EXPECT_EQ(hex(C_ASN1::encode_ObjId("1.2.840.113549.1.9.14")), "06092a864886f70d01090e");
    EXPECT_EQ(hex(C_ASN1::encode_ObjId("1.3.6.1.4.1.311.13.2.1")), "060a2b0601040182370d0201");
    EXPECT_EQ(hex(C_ASN1::encode_ObjId("1.2.643.100.111")), "06052a8503646f");
    EXPECT_EQ(hex(C_ASN1::encode_ObjId("0.0")), "060100");
    EXPECT_EQ(hex(C_ASN1::encode_ObjId("0.39")), "060127");
    EXPECT_EQ(hex(C_ASN1::encode_ObjId("2.40")), "060178");
    // Large arcs: the second arc of 2.x exceeds 39; arcs of 32 bits, 64 bits
    // and a 128-bit UUID arc.
    EXPECT_EQ(hex(C_ASN1::encode_ObjId("2.999.3")), "0603883703");
    EXPECT_EQ(hex(C_ASN1::encode_ObjId("1.2.4294967296")), "06062a9080808000");
    EXPECT_EQ(hex(C_ASN1::encode_ObjId("1.2.18446744073709551616")), "060b2a82808080808080808000");
    EXPECT_EQ(hex(C_ASN1::encode_ObjId("2.25.329800735698586629295641978511506172918")),
              "06146983f09da7ebcfdee0c7a1a7b2c0948cc8f9d776");
    // Leading zeros do not change the value.
    EXPECT_EQ(hex(C_ASN1::encode_ObjId("1.02.0643")), "06032a8503");

    for (const char* bad : {"", "1", "1.", ".1", "1..2", "3.1", "1.40", "0.100", "1.2.a", "1.2 ", " 1.2",
                            "-1.2", "10.2", "1,2"}) {
        EXPECT_TRUE(C_ASN1::encode_ObjId(bad).isEmpty()) << bad;
    }
}

TEST(C_ASN1, StringKindsCarryTheirTags) {
    CBlob out;
    EXPECT_EQ(C_ASN1::encodeString(std::string("123"), C_ASN1::NUMERIC_STRING, out), 0);
    EXPECT_EQ(hex(out), "1203313233");
    EXPECT_EQ(C_ASN1::encodeString(std::string("RU"), C_ASN1::PRINTABLE_STRING, out), 0);
    EXPECT_EQ(hex(out), "13025255");
    EXPECT_EQ(C_ASN1::encodeString(std::string("a@b"), C_ASN1::IA5_STRING, out), 0);
    EXPECT_EQ(hex(out), "1603614062");
    EXPECT_EQ(C_ASN1::encodeString(std::string("\xD0\xAF"), C_ASN1::UTF8_STRING, out), 0);
    EXPECT_EQ(hex(out), "0c02d0af");
    EXPECT_EQ(C_ASN1::encodeString(std::string(), C_ASN1::UTF8_STRING, out), 0);
    EXPECT_EQ(hex(out), "0c00");

    // Kinds outside the five: -1 and nothing left in out.
    for (int kind : {0, 1, 2, 5, 6, 8, 11, 14, -1}) {
        out = blobOf("0102");
        EXPECT_EQ(C_ASN1::encodeString(std::string("x"), kind, out), -1) << kind;
        EXPECT_TRUE(out.isEmpty()) << kind;
    }
}

TEST(C_ASN1, BmpStringIsBigEndianUtf16) {
    // "Привет, A" in CP1251, converted to UTF-16 the way the program does.
    const std::string ansi = "\xCF\xF0\xE8\xE2\xE5\xF2, A";
    WCHAR* wide = tesel::convertToWideChar(&ansi);
    CBlob out;
    ASSERT_EQ(C_ASN1::encodeString(wide, C_ASN1::BMP_STRING, out), 0);
    std::free(wide);
    EXPECT_EQ(hex(out), "1e12041f04400438043204350442002c00200041");
    // The code units exactly as stored (an odd byte count is not UTF-16).
    const unsigned short units[] = {0x0416, 0x0041};
    ASSERT_EQ(C_ASN1::encodeString(units, sizeof units, C_ASN1::BMP_STRING, out), 0);
    EXPECT_EQ(hex(out), "1e0404160041");
    EXPECT_EQ(C_ASN1::encodeString(units, 3, C_ASN1::BMP_STRING, out), -1);
    EXPECT_TRUE(out.isEmpty());
    // 100 Cyrillic letters: 200 bytes need the long length form.
    std::vector<unsigned short> many(100, 0x0430);
    ASSERT_EQ(C_ASN1::encodeString(many.data(), 200, C_ASN1::BMP_STRING, out), 0);
    EXPECT_EQ(hex(CBlob(out.getData(), 5)), "1e81c80430");
    EXPECT_EQ(out.getSize(), 203u);
}

TEST(C_ASN1, ConstructedElements) {
    const CBlob items[] = {blobOf("0500"), blobOf("020101")};
    EXPECT_EQ(hex(C_ASN1::encodeSequence(items, 2)), "30050500020101");
    EXPECT_EQ(hex(C_ASN1::encodeSet(items, 2)), "31050500020101");
    EXPECT_EQ(hex(C_ASN1::encodeOptional(items, 2)), "a0050500020101");
    EXPECT_EQ(hex(C_ASN1::encodeOptional(items[1])), "a003020101");
    EXPECT_EQ(hex(C_ASN1::encodeSequence(nullptr, 0)), "3000");
    EXPECT_EQ(hex(C_ASN1::encodeSequence(std::vector<CBlob>{})), "3000");
    // Empty items contribute nothing.
    EXPECT_EQ(hex(C_ASN1::encodeSet({CBlob(), blobOf("0101ff"), CBlob()})), "31030101ff");
    // A sequence whose content reaches the long form.
    std::vector<CBlob> many(50, blobOf("0500"));
    const CBlob seq = C_ASN1::encodeSequence(many);
    EXPECT_EQ(hex(CBlob(seq.getData(), 4)), "30640500");
    many.assign(64, blobOf("0500"));
    EXPECT_EQ(hex(CBlob(C_ASN1::encodeSequence(many).getData(), 3)), "308180");
}

TEST(C_ASN1, Primitives) {
    EXPECT_EQ(hex(C_ASN1::encodeNULL()), "0500");
    EXPECT_EQ(hex(C_ASN1::encodeBoolean(true)), "0101ff");
    EXPECT_EQ(hex(C_ASN1::encodeBoolean(false)), "010100");
    EXPECT_EQ(hex(C_ASN1::encodeBitString(blobOf("abcd"))), "030300abcd");
    EXPECT_EQ(hex(C_ASN1::encodeBitString(CBlob())), "030100");
    EXPECT_EQ(hex(C_ASN1::encodeOctetString(blobOf("0102"))), "04020102");
    EXPECT_EQ(hex(C_ASN1::encodeTLV(0x80, nullptr, 0)), "8000");

    EXPECT_EQ(hex(C_ASN1::encodeInteger(0)), "020100");
    EXPECT_EQ(hex(C_ASN1::encodeInteger(127)), "02017f");
    EXPECT_EQ(hex(C_ASN1::encodeInteger(128)), "02020080");
    EXPECT_EQ(hex(C_ASN1::encodeInteger(256)), "02020100");
    EXPECT_EQ(hex(C_ASN1::encodeInteger(-1)), "0201ff");
    EXPECT_EQ(hex(C_ASN1::encodeInteger(-128)), "020180");
    EXPECT_EQ(hex(C_ASN1::encodeInteger(-129)), "0202ff7f");
    EXPECT_EQ(hex(C_ASN1::encodeInteger(LLONG_MAX)), "02087fffffffffffffff");
    EXPECT_EQ(hex(C_ASN1::encodeInteger(LLONG_MIN)), "02088000000000000000");
}

TEST(C_ASN1, UtcTime) {
    SYSTEMTIME t{};
    t.wYear = 2024;
    t.wMonth = 3;
    t.wDay = 5;
    t.wHour = 7;
    t.wMinute = 8;
    t.wSecond = 9;
    EXPECT_EQ(hex(C_ASN1::encodeUTC_TIME(t)), "170d3234303330353037303830395a");  // 240305070809Z
    t.wYear = 1950;
    EXPECT_EQ(hex(C_ASN1::encodeUTC_TIME(t)).substr(4, 4), "3530");
    t.wYear = 2049;
    EXPECT_FALSE(C_ASN1::encodeUTC_TIME(t).isEmpty());
    for (int year : {1949, 2050}) {
        t.wYear = static_cast<WORD>(year);
        EXPECT_TRUE(C_ASN1::encodeUTC_TIME(t).isEmpty()) << year;
    }
    t.wYear = 2024;
    t.wMonth = 13;
    EXPECT_TRUE(C_ASN1::encodeUTC_TIME(t).isEmpty());
}
