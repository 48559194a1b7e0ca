// DER of the request, checked byte for byte against encodings written out
// by hand, and the builder's handling of malformed public key blobs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RequestTestSupport.h"
#include "pki/RequestPKCS10.h"

using reqtest::Bytes;
using reqtest::fromHex;
using reqtest::hex;
using tesel::BLOB;
using tesel::CBlob;
using tesel::RequestPKCS10;

namespace {

BLOB viewOf(Bytes& b) { return BLOB{static_cast<std::uint32_t>(b.size()), b.data()}; }

std::string keyBytesHex(int from, int count) {
    Bytes b;
    for (int i = 0; i < count; ++i) b.push_back(static_cast<unsigned char>(from + i));
    return hex(b.data(), b.size());
}

// The small request of the byte-exact test.
RequestPKCS10 smallRequest() {
    RequestPKCS10 r;
    r.getCertAttribs().push_back({"2.5.4.3", "Ab"});
    r.getPurposes().push_back("1.3.6.1.5.5.7.3.2");
    r.getPolicies().push_back("1.2.643.100.113.1");
    r.setSignTool("T");
    return r;
}

// CertificationRequestInfo of smallRequest() for kind 80 and keyBlob256(),
// written out element by element.
std::string expectedSmallInfo() {
    return std::string("3081f2")        // CertificationRequestInfo, 242 bytes
           + "020100"                   // version 0
           + "300d310b3009"             // subject: one RDN
           + "0603550403" + "0c024162"  //   CN, UTF8String "Ab"
           + "3066"                     // SubjectPublicKeyInfo
           + "301f" + "06082a85030701010101"  // GOST R 34.10-2012 256
           + "3013" + "06072a850302022400" + "06082a85030701010202"  // the blob's TLVs
           + "034300" + "0440" + keyBytesHex(1, 64)                  // BIT STRING { OCTET STRING }
           + "a076" + "3074" + "06092a864886f70d01090e"              // [0] extensionRequest
           + "3167" + "3065"                                         // SET { Extensions }
           + "3013" + "0603551d20" + "040c" + "300a" + "3008" + "06062a8503647101"  // policies
           + "300c" + "06052a8503646f" + "0403" + "0c0154"                          // signing tool
           + "3013" + "0603551d25" + "040c" + "300a" + "06082b06010505070302"      // EKU
           + "300e" + "0603551d0f" + "0101ff" + "0404" + "030204f0"                // key usage
           + "301b" + "06092a864886f70d01090f" + "040e" + "300c" + "300a" +
           "06082a85030701010502";  // S/MIME capabilities: GOST 28147 (2012 class)
}

}  // namespace

TEST(RequestEncode, SmallRequestByteExact) {
    const RequestPKCS10 r = smallRequest();
    Bytes blob = reqtest::keyBlob256();
    CBlob request;
    CBlob tbs;
    ASSERT_EQ(r.createCSR(qn::crypto::CP_CRYPTOPRO_GOST2012_256, viewOf(blob), request, tbs), 0);
    EXPECT_EQ(hex(tbs), expectedSmallInfo());
    // The request: the info, the signature algorithm with NULL parameters,
    // and a placeholder signature of 64 bytes taken from the blob's end.
    EXPECT_EQ(hex(request), "30820146" + expectedSmallInfo() + "300c06082a850307010103020500" + "034100" +
                                keyBytesHex(1, 64));
}

TEST(RequestEncode, SubjectStringTypes) {
    RequestPKCS10 r;
    r.getCertAttribs() = {{"2.5.4.6", "RU"},
                          {"1.2.840.113549.1.9.1", "a@b"},
                          {"1.2.643.3.131.1.1", "0012"},
                          {"1.2.643.100.5", "3"},
                          {"2.5.4.3", "\xDF"}};  // "Я" in CP1251
    CBlob dn;
    ASSERT_EQ(r.encodeDistinguishedName(&dn), 0);
    EXPECT_EQ(hex(dn), std::string("3050") +
                           "310b3009" + "0603550406" + "13025255" +                      // PrintableString
                           "31123010" + "06092a864886f70d010901" + "1603614062" +       // IA5String
                           "31123010" + "06082a85030381030101" + "120430303132" +       // NumericString
                           "310c300a" + "06052a85036405" + "0c0133" +                   // OGRNIP: UTF8
                           "310b3009" + "0603550403" + "0c02d0af");                     // UTF-8 of CP1251
}

TEST(RequestEncode, DistinguishedNameRules) {
    RequestPKCS10 r;
    CBlob dn;
    Bytes blob = reqtest::keyBlob256();
    CBlob request;
    CBlob tbs;
    EXPECT_EQ(r.encodeDistinguishedName(&dn), 1);
    EXPECT_EQ(r.createCSR(qn::crypto::CP_CRYPTOPRO_GOST2012_256, viewOf(blob), request, tbs), 1);
    EXPECT_TRUE(request.isEmpty());

    r.getCertAttribs() = {{"2.5.4.3", "x"}, {"2.5.4.5", "serial"}};  // serialNumber is not an eOID
    EXPECT_EQ(r.encodeDistinguishedName(&dn), -1);
    EXPECT_EQ(r.createCSR(qn::crypto::CP_CRYPTOPRO_GOST2012_256, viewOf(blob), request, tbs), -1);
    r.getCertAttribs() = {{"2.5.4.3 ", "x"}};
    EXPECT_EQ(r.encodeDistinguishedName(&dn), -1);

    // Any eOID is accepted as an attribute; unlisted ones are UTF8String.
    r.getCertAttribs() = {{"2.5.29.15", "k"}};
    ASSERT_EQ(r.encodeDistinguishedName(&dn), 0);
    EXPECT_EQ(hex(dn), "300c310a30080603551d0f0c016b");
}

TEST(RequestEncode, LongValuesUseTheLongLengthForm) {
    RequestPKCS10 r;
    // 100 Cyrillic letters: 200 bytes of UTF-8.
    r.getCertAttribs() = {{"2.5.4.10", std::string(100, '\xE0')}};
    CBlob dn;
    ASSERT_EQ(r.encodeDistinguishedName(&dn), 0);
    EXPECT_EQ(hex(CBlob(dn.getData(), 21)), "3081d63181d33081d006035504" "0a0c81c8d0b0d0b0");
    EXPECT_EQ(dn.getSize(), 3u + 3 + 3 + 5 + 3 + 200);
}

TEST(RequestEncode, PlaceholderHasTheKindsSignatureSize) {
    RequestPKCS10 r = smallRequest();
    // A 2012/512 blob: TC26 512 A and Streebog-512 parameters, 128 key bytes.
    Bytes blob = fromHex("062000003d2e00004d41473100040000" "3015" "06092a850307010201020106082a85030701010203");
    for (int i = 0; i < 128; ++i) blob.push_back(static_cast<unsigned char>(0x80 + i));
    CBlob request;
    CBlob tbs;
    ASSERT_EQ(r.createCSR(qn::crypto::CP_CRYPTOPRO_GOST2012_512, viewOf(blob), request, tbs), 0);
    const std::string h = hex(request);
    EXPECT_EQ(h.substr(h.size() - 2 * 132), "03818100" + keyBytesHex(0x80, 128));
    EXPECT_NE(h.find("300c06082a850307010103030500"), std::string::npos);  // 34.10-2012 512 signature
    EXPECT_NE(hex(tbs).find("03818400048180" + keyBytesHex(0x80, 128)), std::string::npos);
}

TEST(RequestEncode, MalformedPublicKeyBlobsAreRefused) {
    const RequestPKCS10 r = smallRequest();
    const Bytes good = reqtest::keyBlob256();
    CBlob request;
    CBlob tbs;
    auto build = [&](Bytes b, qn::crypto::eSupportCP kind = qn::crypto::CP_CRYPTOPRO_GOST2012_256) {
        // An exactly sized heap copy, so a read past its end would be caught.
        std::vector<unsigned char> exact(b.begin(), b.end());
        BLOB view{static_cast<std::uint32_t>(exact.size()), exact.empty() ? nullptr : exact.data()};
        return r.createCSR(kind, view, request, tbs);
    };
    ASSERT_EQ(build(good), 0);

    // Every truncation, and one byte too many.
    for (std::size_t n = 0; n < good.size(); ++n) {
        EXPECT_EQ(build(Bytes(good.begin(), good.begin() + static_cast<long>(n))), 70) << n;
        EXPECT_TRUE(request.isEmpty() && tbs.isEmpty());
    }
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_EQ(build(longer), 70);

    // A parameter TLV whose length runs past the end, or in the long form.
    Bytes b = good;
    b[19] = 0x7F;
    EXPECT_EQ(build(b), 70);
    b = good;
    b[28] = 0xFF;
    EXPECT_EQ(build(b), 70);
    b = good;
    b[19] = 0x81;
    EXPECT_EQ(build(b), 70);
    // The SEQUENCE at 16 disagrees with the two TLVs (a third parameter).
    b = good;
    b[17] = 0x15;
    EXPECT_EQ(build(b), 70);
    b = good;
    b[16] = 0x31;
    EXPECT_EQ(build(b), 70);
    // A 256-bit blob for a 512-bit kind, an unknown kind.
    EXPECT_EQ(build(good, qn::crypto::CP_CRYPTOPRO_GOST2012_512), 70);
    EXPECT_EQ(build(good, qn::crypto::CP_NONE), 70);
    EXPECT_EQ(build(good, static_cast<qn::crypto::eSupportCP>(0)), 70);
    EXPECT_EQ(r.createCSR(qn::crypto::CP_CRYPTOPRO_GOST2012_256, BLOB{200, nullptr}, request, tbs), 70);

    // A purpose or policy that is not an OID.
    RequestPKCS10 bad = smallRequest();
    bad.getPurposes().push_back("client auth");
    Bytes copy = good;
    EXPECT_EQ(bad.createCSR(qn::crypto::CP_CRYPTOPRO_GOST2012_256, viewOf(copy), request, tbs), 70);
}
