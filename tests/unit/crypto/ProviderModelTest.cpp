// The provider model: kinds and their names, the algorithm table, the
// provider description, random bytes, the base settings and certificates.
#include <gtest/gtest.h>

#include "CspTestSupport.h"
#include "GostOracle.h"
#include "core/TextConvert.h"
#include "crypto/CCSP_Type.h"
#include "crypto/CryptoBase.h"
#include "crypto/CspAlgorithms.h"
#include "crypto/C_ASN1.h"
#include "crypto/RandomByteVector.h"
#include "crypto/UserCspInfo.h"
#include "errors/eErrCodes.h"

using namespace qn::crypto;
using namespace testutil;

namespace {

std::string ansi(const char* utf8) { return tesel::convertFromUTF8(utf8); }

class TestBase : public CryptoBase {
public:
    unsigned release() override { return 0; }
    unsigned getCspVersion(std::string&) const override { return 0; }
    unsigned getPublicKeyBlob(tesel::CBlob&) const override { return 0; }
    unsigned signMessage(const tesel::CBlob&, tesel::CBlob&) const override { return 0; }
    unsigned getUniqueContainer(std::string&) const override { return 0; }
    unsigned encryptMessage(const tesel::CBlob&, Crypto2SideInfo&, tesel::CBlob&) override { return 0; }
    unsigned encrypt(const tesel::CBlob&, CryptoHandle, const tesel::CBlob&, tesel::CBlob&) override { return 0; }
    unsigned decryptMessage(const tesel::CBlob&, Crypto2SideInfo&, tesel::CBlob&) override { return 0; }
    unsigned decrypt(const tesel::CBlob&, CryptoHandle, const tesel::CBlob&, tesel::CBlob&) override { return 0; }
    unsigned createSessionKey(CryptoHandle&, tesel::CBlob&) override { return 0; }
    unsigned addCertToContainer(const tesel::CBlob&) override { return 0; }
    unsigned importPublicKey2Side(const tesel::CBlob&, Crypto2SideInfo&) override { return 0; }
    unsigned verifySignMessage(const tesel::CBlob&, CryptoHandle) const override { return 0; }
    unsigned getCspInfo(UserCspInfo&) const override { return 0; }
    unsigned getContainersList(std::vector<std::string>&) const override { return 0; }
    unsigned getContainersAllList(std::vector<std::string>&, std::vector<std::string>&) const override { return 0; }
    std::shared_ptr<CryptoProviderQn> clone() const override { return nullptr; }
    unsigned removeKeyPair(const std::string&) override { return 0; }
};

Bytes bytesOfBlob(const tesel::BLOB& b) { return Bytes(b.pbData, b.pbData + b.cbData); }

}  // namespace

TEST(CCSP_Type, NamesAndKinds) {
    CCSP_Type& reg = CCSP_Type::instance();
    reg.init();  // a second init changes nothing
    EXPECT_EQ(reg.getCSPString(CP_NONE), ansi("Не определён"));
    EXPECT_EQ(reg.getCSPString(CP_CRYPTOPRO_GOST2012_256), ansi("\"Крипто ПРО\" CSP GOST2012/256"));
    EXPECT_EQ(reg.getCSPString(CP_RUTOKEN_GOST2012_512), "RuToken GOST2012/512");
    // An unknown kind gets the first name in byte order.
    EXPECT_EQ(reg.getCSPString(static_cast<eSupportCP>(0)), ansi("\"Крипто ПРО\" CSP"));
    EXPECT_EQ(reg.getCSPString(static_cast<eSupportCP>(79)), ansi("\"Крипто ПРО\" CSP"));
    EXPECT_EQ(reg.getCSPType("ViPNet CSP"), CP_VIPNET);
    EXPECT_EQ(reg.getCSPType("vipnet csp"), CP_NONE);
    EXPECT_EQ(reg.getCSPType(ansi("\"Крипто ПРО\" CSP GOST2012/512")), CP_CRYPTOPRO_GOST2012_512);
    EXPECT_EQ(reg.getCSPType(""), CP_NONE);
}

TEST(CspAlgorithms, TableByClass) {
    for (eSupportCP k : {CP_JACARTA_GOST, CP_RUTOKEN_GOST, CP_VIPNET, CP_CRYPTOPRO}) {
        EXPECT_EQ(get_PUBKEY_ALG_OID(k), "1.2.643.2.2.19");
        EXPECT_EQ(get_SIGN_ALG_OID(k), "1.2.643.2.2.3");
        EXPECT_EQ(get_ENCRYPT_ALG_OID(k), "1.2.643.2.2.21");
        EXPECT_EQ(get_28147_ALG_OID(k), "1.2.643.2.2.31.1");
        EXPECT_EQ(get_HASH_PARAM_SET_ALG_OID(k), "1.2.643.2.2.30.1");
        EXPECT_EQ(get_SIGN_PARAM_SET_ALG_OID(k), "1.2.643.2.2.35.1");
        EXPECT_EQ(getPubKeyAlgId(k), 0x2E23);
        EXPECT_EQ(getPubKeySize(k), 512u);
        EXPECT_EQ(getSignSize(k), 64u);
        EXPECT_EQ(getGostCrypto(k), GOST_2001);
    }
    for (eSupportCP k : {CP_JACARTA_GOST2012_256, CP_RUTOKEN_GOST2012_256, CP_VIPNET_GOST2012_256,
                         CP_CRYPTOPRO_GOST2012_256}) {
        EXPECT_EQ(get_PUBKEY_ALG_OID(k), "1.2.643.7.1.1.1.1");
        EXPECT_EQ(get_SIGN_ALG_OID(k), "1.2.643.7.1.1.3.2");
        EXPECT_EQ(get_ENCRYPT_ALG_OID(k), "1.2.643.7.1.1.5.2");
        EXPECT_EQ(get_28147_ALG_OID(k), "1.2.643.7.1.2.5.1.1");
        EXPECT_EQ(get_HASH_PARAM_SET_ALG_OID(k), "1.2.643.7.1.1.2.2");
        EXPECT_EQ(get_SIGN_PARAM_SET_ALG_OID(k), "1.2.643.2.2.36.0");
        EXPECT_EQ(getPubKeyAlgId(k), 0x2E49);
        EXPECT_EQ(getPubKeySize(k), 512u);
        EXPECT_EQ(getSignSize(k), 64u);
        EXPECT_EQ(getGostCrypto(k), GOST_2012);
    }
    // The 512-bit class with its real 512-bit settings.
    for (eSupportCP k : {CP_JACARTA_GOST2012_512, CP_RUTOKEN_GOST2012_512, CP_VIPNET_GOST2012_512,
                         CP_CRYPTOPRO_GOST2012_512}) {
        EXPECT_EQ(get_PUBKEY_ALG_OID(k), "1.2.643.7.1.1.1.2");
        EXPECT_EQ(get_SIGN_ALG_OID(k), "1.2.643.7.1.1.3.3");
        EXPECT_EQ(get_ENCRYPT_ALG_OID(k), "1.2.643.7.1.1.5.2");
        EXPECT_EQ(get_28147_ALG_OID(k), "1.2.643.7.1.2.5.1.1");
        EXPECT_EQ(get_HASH_PARAM_SET_ALG_OID(k), "1.2.643.7.1.1.2.3");
        EXPECT_EQ(get_SIGN_PARAM_SET_ALG_OID(k), "1.2.643.7.1.2.1.2.1");
        EXPECT_EQ(getPubKeyAlgId(k), 0x2E3D);
        EXPECT_EQ(getPubKeySize(k), 1024u);
        EXPECT_EQ(getSignSize(k), 128u);
        EXPECT_EQ(getGostCrypto(k), GOST_2012);
    }
    for (int v : {-2, 0, 1, 3, 74, 76, 79, 82, -8, 1000}) {
        const auto k = static_cast<eSupportCP>(v);
        EXPECT_EQ(get_PUBKEY_ALG_OID(k), "");
        EXPECT_EQ(get_SIGN_PARAM_SET_ALG_OID(k), "");
        EXPECT_EQ(getPubKeyAlgId(k), -1);
        EXPECT_EQ(getPubKeySize(k), 0u);
        EXPECT_EQ(getSignSize(k), 0u);
        EXPECT_EQ(getGostCrypto(k), GOST_UNKNOWN);
        EXPECT_EQ(getHashAlgId(k), 0xFFFFFFFFu);
        EXPECT_EQ(getSignAlgId(k), 0xFFFFFFFFu);
        EXPECT_EQ(getSupportCryptoInterface(k), 0);
    }
}

TEST(CspAlgorithms, HashAndSignatureNumbers) {
    EXPECT_EQ(getHashAlgId(CP_JACARTA_GOST), 0x1210u);
    EXPECT_EQ(getSignAlgId(CP_RUTOKEN_GOST), 0x1202u);
    EXPECT_EQ(getHashAlgId(CP_JACARTA_GOST2012_256), 0xD4321012u);
    EXPECT_EQ(getSignAlgId(CP_RUTOKEN_GOST2012_256), 0xD4321008u);
    EXPECT_EQ(getHashAlgId(CP_JACARTA_GOST2012_512), 0xD4321013u);
    EXPECT_EQ(getSignAlgId(CP_RUTOKEN_GOST2012_512), 0xD4321009u);
    EXPECT_EQ(getHashAlgId(CP_VIPNET), 0x801Eu);
    EXPECT_EQ(getHashAlgId(CP_CRYPTOPRO_GOST2012_256), 0x8021u);
    EXPECT_EQ(getHashAlgId(CP_CRYPTOPRO_GOST2012_512), 0x8022u);
    EXPECT_EQ(getHashAlgId(CP_VIPNET_GOST2012_512), 0x8022u);
    EXPECT_EQ(getSignAlgId(CP_CRYPTOPRO), 0xFFFFFFFFu);
}

TEST(CspAlgorithms, InterfacesAndConversions) {
    for (eSupportCP k : {CP_VIPNET, CP_VIPNET_GOST2012_256, CP_VIPNET_GOST2012_512, CP_CRYPTOPRO,
                         CP_CRYPTOPRO_GOST2012_256, CP_CRYPTOPRO_GOST2012_512}) {
        EXPECT_EQ(getSupportCryptoInterface(k), 1);
    }
    for (eSupportCP k : {CP_JACARTA_GOST, CP_JACARTA_GOST2012_256, CP_JACARTA_GOST2012_512, CP_RUTOKEN_GOST,
                         CP_RUTOKEN_GOST2012_256, CP_RUTOKEN_GOST2012_512}) {
        EXPECT_EQ(getSupportCryptoInterface(k), 2);
    }
    const std::pair<int, std::pair<int, int>> rows[] = {
        {-1, {-3, -1}}, {-3, {-3, -1}}, {-5, {-6, -5}}, {-6, {-6, -5}}, {2, {77, 2}},  {77, {77, 2}},
        {75, {80, 75}}, {80, {80, 75}}, {81, {-2, -2}}, {-4, {-2, -2}}, {78, {-2, -2}}, {0, {-2, -2}},
    };
    for (const auto& [in, out] : rows) {
        EXPECT_EQ(convertToGost2012(static_cast<eSupportCP>(in)), out.first) << in;
        EXPECT_EQ(convertToGost2001(static_cast<eSupportCP>(in)), out.second) << in;
    }
}

TEST(CspAlgorithms, GenerationOfBlobsAndOids) {
    auto blobWithAlg = [](unsigned alg) {
        unsigned char b[16] = {6, 0x20, 0, 0, static_cast<unsigned char>(alg), static_cast<unsigned char>(alg >> 8)};
        return tesel::CBlob(b, sizeof b);
    };
    EXPECT_EQ(getGostCrypto(blobWithAlg(0x2E23)), GOST_2001);
    EXPECT_EQ(getGostCrypto(blobWithAlg(0x2E49)), GOST_2012);
    EXPECT_EQ(getGostCrypto(blobWithAlg(0x2E3D)), GOST_2012);
    EXPECT_EQ(getGostCrypto(blobWithAlg(0x2E24)), GOST_UNKNOWN);
    const unsigned char shortBlob[5] = {6, 0x20, 0, 0, 0x23};
    EXPECT_EQ(getGostCrypto(tesel::CBlob(shortBlob, 5)), GOST_UNKNOWN);
    EXPECT_EQ(getGostCrypto(std::string("1.2.643.2.2.19")), GOST_2001);
    EXPECT_EQ(getGostCrypto(std::string("1.2.643.7.1.1.1.2")), GOST_2012);
    EXPECT_EQ(getGostCrypto(std::string("1.2.643.7.1.1.1")), GOST_UNKNOWN);
    EXPECT_EQ(getPubKeyAlgId(std::string("1.2.643.7.1.1.1.1")), 0x2E49);
    EXPECT_EQ(getPubKeyAlgId(std::string("1.2.840.10045.2.1")), -1);
}

TEST(UserCspInfo, BinaryForm) {
    UserCspInfo info;
    EXPECT_EQ(info.getCspType(), CP_NONE);
    info.setCspType(CP_CRYPTOPRO_GOST2012_256);
    info.setCspVersion("5.0");
    tesel::CBlob out;
    info >> out;
    ASSERT_EQ(out.getSize(), 4u + 5 * 4 + 3);
    EXPECT_EQ(toHex(Bytes(out.getData(), out.getData() + out.getSize())),
              "50000000" "03000000" "352e30" "00000000" "00000000" "00000000" "00000000");
    UserCspInfo back;
    EXPECT_TRUE(back << out);
    EXPECT_EQ(back.getCspType(), CP_CRYPTOPRO_GOST2012_256);
    EXPECT_EQ(back.getCspVersion(), "5.0");

    info.setLabel("token");
    info.setSerialNumber("0042");
    info >> out;
    EXPECT_EQ(out.getSize(), info.getSizeInBytes());
    EXPECT_TRUE(back << out);
    EXPECT_EQ(back.getLabel(), "token");
    EXPECT_EQ(back.getSerialNumber(), "0042");
    // A record cut short is refused and changes nothing.
    tesel::CBlob cut(out, 0, 3);
    EXPECT_FALSE(back << cut);
    EXPECT_EQ(back.getLabel(), "token");
}

TEST(RandomByteVector, FillsTheRequestedCount) {
    tesel::CBlob out;
    RandomByteVector(0, out);
    EXPECT_TRUE(out.isEmpty());
    RandomByteVector(4096, out);
    ASSERT_EQ(out.getSize(), 4096u);
    // Every value occurs in 64 KiB of output (a broken reduction would miss some).
    std::vector<int> seen(256, 0);
    for (int round = 0; round < 16; ++round) {
        RandomByteVector(4096, out);
        for (unsigned i = 0; i < out.getSize(); ++i) seen[out[i]]++;
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 0), 0);
    tesel::CBlob other;
    RandomByteVector(32, other);
    RandomByteVector(32, out);
    EXPECT_FALSE(out == other);
}

TEST(CryptoBase, ParameterSetOidsAreDer) {
    auto hex = [](const tesel::CBlob& b) { return toHex(Bytes(b.getData(), b.getData() + b.getSize())); };
    EXPECT_EQ(hex(tesel::C_ASN1::encode_ObjId("1.2.643.2.2.35.1")), "06072a850302022301");
    EXPECT_EQ(hex(tesel::C_ASN1::encode_ObjId("1.2.643.7.1.2.5.1.1")), "06092a8503070102050101");
    EXPECT_EQ(hex(tesel::C_ASN1::encode_ObjId("2.5.29.35")), "0603551d23");
    EXPECT_TRUE(tesel::C_ASN1::encode_ObjId("").isEmpty());
    EXPECT_TRUE(tesel::C_ASN1::encode_ObjId("1..2").isEmpty());
    EXPECT_TRUE(tesel::C_ASN1::encode_ObjId("1.40").isEmpty());
}

TEST(CryptoBase, SetCspFillsTheSettings) {
    TestBase b;
    EXPECT_EQ(b.getCSP(), CP_NONE);
    EXPECT_EQ(b.getGostCrypto(), GOST_UNKNOWN);
    EXPECT_FALSE(b.isValid());
    b.setCSP(CP_CRYPTOPRO_GOST2012_256);
    EXPECT_EQ(b.getCSP(), CP_CRYPTOPRO_GOST2012_256);
    EXPECT_EQ(b.getSzSign(), 64u);
    EXPECT_EQ(b.getGostCrypto(), GOST_2012);
    EXPECT_EQ(toHex(bytesOfBlob(b.getHashParamSet())), "06082a85030701010202");
    EXPECT_EQ(toHex(bytesOfBlob(b.getSignParamSet())), "06072a850302022400");
    EXPECT_EQ(toHex(bytesOfBlob(b.getCipherParamSet())), "06092a8503070102050101");
    EXPECT_EQ(b.getHashAlgorithm(), 0x8021u);
    EXPECT_EQ(b.getSignAlgorithm(), 0xFFFFFFFFu);
    EXPECT_EQ(b.getCipherAlgorithm(), 0x661Eu);
    b.setCSP(CP_RUTOKEN_GOST2012_512);
    EXPECT_EQ(b.getSzSign(), 128u);
    EXPECT_EQ(b.getSignAlgorithm(), 0xD4321009u);
}

class CertificateTest : public CspDirTest {};

TEST_F(CertificateTest, BlobToCertificateAcceptsDerBase64AndPkcs7) {
    ASSERT_TRUE(oracle::available());
    auto ca = oracle::generate(oracle::Kind::G2012_256, "A");
    auto subject = oracle::generate(oracle::Kind::G2012_256, "XA");
    const Bytes spki = oracle::spkiDer(oracle::Kind::G2012_256, oracle::spkiParams(subject), oracle::rawPublic(subject));
    const Bytes der = oracle::issueCertificate(ca, spki, "Subject", 0x01F2, 365);
    const std::string pem = oracle::pemOf(der);
    const Bytes p7 = oracle::pkcs7Of(der);

    for (const Bytes& form : {der, Bytes(pem.begin(), pem.end()), p7}) {
        const CERT_CONTEXT* cert = nullptr;
        ASSERT_EQ(CryptoBase::blobToCertificate(tesel::CBlob(form.data(), static_cast<unsigned>(form.size())), &cert),
                  0u);
        ASSERT_NE(cert, nullptr);
        EXPECT_EQ(Bytes(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded), der);
        const CERT_INFO* info = cert->pCertInfo;
        EXPECT_EQ(toHex(Bytes(info->SerialNumber.pbData, info->SerialNumber.pbData + info->SerialNumber.cbData)),
                  "f201");  // least significant byte first
        EXPECT_STREQ(info->SubjectPublicKeyInfo.Algorithm.pszObjId, "1.2.643.7.1.1.1.1");
        EXPECT_EQ(info->dwVersion, 2u);
        EXPECT_GE(info->cExtension, 1u);
        EXPECT_STREQ(info->rgExtension[0].pszObjId, "2.5.29.15");
        EXPECT_TRUE(info->rgExtension[0].fCritical);
        // FILETIME: 100-ns ticks since 1601; the certificate is valid 365 days.
        auto ticks = [](const FILETIME& f) {
            return (static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
        };
        EXPECT_EQ(ticks(info->NotAfter) - ticks(info->NotBefore), 365ULL * 86400 * 10000000);
        EXPECT_GT(ticks(info->NotBefore), 116444736000000000ULL + 1700000000ULL * 10000000);

        tesel::CBlob blob;
        ASSERT_EQ(CryptoBase::publicKeyInfoFromCert(cert, blob), 0u);
        const Bytes raw = oracle::rawPublic(subject);
        ASSERT_EQ(blob.getSize(), 16u + info->SubjectPublicKeyInfo.Algorithm.Parameters.cbData + 64);
        EXPECT_EQ(toHex(Bytes(blob.getData(), blob.getData() + 16)), "06200000492e00004d41473100020000");
        EXPECT_EQ(Bytes(blob.getData() + blob.getSize() - 64, blob.getData() + blob.getSize()), raw);
        CertFreeCertificateContext(cert);
    }

    const CERT_CONTEXT* cert = reinterpret_cast<const CERT_CONTEXT*>(1);
    const Bytes junk = bytesOf("not a certificate at all");
    EXPECT_EQ(CryptoBase::blobToCertificate(tesel::CBlob(junk.data(), static_cast<unsigned>(junk.size())), &cert),
              static_cast<unsigned>(ERR_CERT_DAMAGED));
    EXPECT_EQ(cert, nullptr);
    Bytes cut(der.begin(), der.end() - 1);
    EXPECT_EQ(CryptoBase::blobToCertificate(tesel::CBlob(cut.data(), static_cast<unsigned>(cut.size())), &cert),
              static_cast<unsigned>(ERR_CERT_DAMAGED));
    EXPECT_EQ(CryptoBase::blobToCertificate(tesel::CBlob(), &cert), static_cast<unsigned>(ERR_CERT_DAMAGED));
}

TEST_F(CertificateTest, PublicKeyInfoOfA512BitKey) {
    auto ca = oracle::generate(oracle::Kind::G2012_256, "A");
    auto subject = oracle::generate(oracle::Kind::G2012_512, "A");
    const Bytes spki = oracle::spkiDer(oracle::Kind::G2012_512, oracle::spkiParams(subject), oracle::rawPublic(subject));
    const Bytes der = oracle::issueCertificate(ca, spki, "Big key", 7, 30);
    const CERT_CONTEXT* cert = nullptr;
    ASSERT_EQ(CryptoBase::blobToCertificate(tesel::CBlob(der.data(), static_cast<unsigned>(der.size())), &cert), 0u);
    tesel::CBlob blob;
    ASSERT_EQ(CryptoBase::publicKeyInfoFromCert(cert, blob), 0u);
    // The 128-byte key value has a three-byte OCTET STRING header (04 81 80).
    EXPECT_EQ(blob[4] | (blob[5] << 8), 0x2E3D);
    EXPECT_EQ(blob[12] | (blob[13] << 8), 1024);
    EXPECT_EQ(Bytes(blob.getData() + blob.getSize() - 128, blob.getData() + blob.getSize()),
              oracle::rawPublic(subject));
    CertFreeCertificateContext(cert);
    EXPECT_EQ(CryptoBase::publicKeyInfoFromCert(nullptr, blob), static_cast<unsigned>(ERR_CERT_DAMAGED));
}
