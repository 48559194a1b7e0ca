// The crypt32 decoding calls against certificates made by an independent CA
// (OpenSSL with the GOST engine): names with their value types as Windows
// reports them, extended key usage, authority key identifier, the
// two-call size protocol, damaged input, and the revocation lists folder.
#include <cstring>
#include <string>
#include <vector>

#include "CertTestSupport.h"

using namespace certtest;
using testca::Attr;
using testca::CertFields;

namespace {

std::vector<BYTE> decode(LPCSTR type, const BYTE* p, DWORD n, BOOL& ok, DWORD& err) {
    DWORD need = 0;
    ok = CryptDecodeObject(X509_ASN_ENCODING, type, p, n, 0, nullptr, &need);
    err = ok ? 0 : GetLastError();
    if (!ok) return {};
    std::vector<BYTE> buf(need);
    ok = CryptDecodeObject(X509_ASN_ENCODING, type, p, n, 0, buf.data(), &need);
    err = ok ? 0 : GetLastError();
    return buf;
}

std::vector<BYTE> decodeOk(LPCSTR type, const CRYPT_INTEGER_BLOB& b) {
    BOOL ok = FALSE;
    DWORD err = 0;
    auto buf = decode(type, b.pbData, b.cbData, ok, err);
    EXPECT_TRUE(ok) << std::hex << err;
    return buf;
}

std::u16string wideOf(const CERT_RDN_VALUE_BLOB& v) {
    std::u16string s(v.cbData / 2, u'\0');
    std::memcpy(s.data(), v.pbData, v.cbData);
    return s;
}

Bytes bytesOf(const CERT_RDN_VALUE_BLOB& v) { return Bytes(v.pbData, v.pbData + v.cbData); }

const CERT_EXTENSION* extensionOf(const CERT_CONTEXT* c, const char* oid) {
    return CertFindExtension(oid, c->pCertInfo->cExtension, c->pCertInfo->rgExtension);
}

CertFields richSubject() {
    CertFields s;
    s.subject = {
        {"2.5.4.6", testca::PRINTABLE, "RU"},
        {"2.5.4.3", testca::UTF8, "Иванов Иван"},
        {"2.5.4.10", testca::BMP, "ООО Ромашка"},
        {"1.2.643.3.131.1.1", testca::NUMERIC, "005032149676"},
        {"1.2.840.113549.1.9.1", testca::IA5, "ivanov@example.ru"},
        {"2.5.4.7", testca::TELETEX, "\xCC\xEE\xF1\xEA\xE2\xE0"},  // bytes as they are
        {"2.5.4.4", testca::UTF8, "Иванов"},
        {"2.5.4.42", testca::UTF8, "Иван", true},  // the same RDN as the surname
    };
    return s;
}

}  // namespace

TEST(CertDecode, NameValuesAndTypesAsWindowsReportsThem) {
    Ctx c = ctxOf(ca2012().issue(richSubject()));
    ASSERT_TRUE(c);
    auto buf = decodeOk(X509_NAME, c->pCertInfo->Subject);
    ASSERT_FALSE(buf.empty());
    const auto* name = reinterpret_cast<const CERT_NAME_INFO*>(buf.data());
    ASSERT_EQ(name->cRDN, 7u);
    struct Want {
        const char* oid;
        DWORD type;
    } want[] = {{"2.5.4.6", CERT_RDN_PRINTABLE_STRING}, {"2.5.4.3", CERT_RDN_UTF8_STRING},
                {"2.5.4.10", CERT_RDN_BMP_STRING},       {"1.2.643.3.131.1.1", CERT_RDN_NUMERIC_STRING},
                {"1.2.840.113549.1.9.1", CERT_RDN_IA5_STRING}, {"2.5.4.7", CERT_RDN_TELETEX_STRING},
                {"2.5.4.42", CERT_RDN_UTF8_STRING}};
    for (DWORD i = 0; i < name->cRDN; ++i) {
        SCOPED_TRACE(i);
        ASSERT_GE(name->rgRDN[i].cRDNAttr, 1u);
        EXPECT_STREQ(name->rgRDN[i].rgRDNAttr[0].pszObjId, want[i].oid);
        EXPECT_EQ(name->rgRDN[i].rgRDNAttr[0].dwValueType, want[i].type);
    }
    const CERT_RDN_ATTR* a = name->rgRDN[0].rgRDNAttr;
    EXPECT_EQ(bytesOf(a->Value), (Bytes{'R', 'U'}));
    EXPECT_EQ(a->Value.pbData[2], 0);  // uncounted terminator
    // UTF-8 and BMP values come as UTF-16 text.
    EXPECT_EQ(wideOf(name->rgRDN[1].rgRDNAttr[0].Value), u"Иванов Иван");
    EXPECT_EQ(wideOf(name->rgRDN[2].rgRDNAttr[0].Value), u"ООО Ромашка");
    const CERT_RDN_VALUE_BLOB& bmp = name->rgRDN[2].rgRDNAttr[0].Value;
    EXPECT_EQ(reinterpret_cast<const WCHAR*>(bmp.pbData)[bmp.cbData / 2], 0);
    EXPECT_EQ(bytesOf(name->rgRDN[3].rgRDNAttr[0].Value), testutil::bytesOf("005032149676"));
    EXPECT_EQ(bytesOf(name->rgRDN[4].rgRDNAttr[0].Value), testutil::bytesOf("ivanov@example.ru"));
    EXPECT_EQ(bytesOf(name->rgRDN[5].rgRDNAttr[0].Value), testutil::bytesOf("\xCC\xEE\xF1\xEA\xE2\xE0"));
    // A multi-valued RDN keeps its attributes together, in encoded order
    // (a DER SET OF sorts them: the shorter given name comes first).
    ASSERT_EQ(name->rgRDN[6].cRDNAttr, 2u);
    EXPECT_EQ(wideOf(name->rgRDN[6].rgRDNAttr[0].Value), u"Иван");
    EXPECT_STREQ(name->rgRDN[6].rgRDNAttr[1].pszObjId, "2.5.4.4");
    EXPECT_EQ(wideOf(name->rgRDN[6].rgRDNAttr[1].Value), u"Иванов");
}

TEST(CertDecode, SizeProtocolAndAnyBufferAlignment) {
    Ctx c = ctxOf(ca2012().issue(richSubject()));
    ASSERT_TRUE(c);
    const CERT_NAME_BLOB& subject = c->pCertInfo->Subject;
    DWORD need = 0;
    ASSERT_TRUE(CryptDecodeObject(X509_ASN_ENCODING, X509_NAME, subject.pbData, subject.cbData, 0, nullptr, &need));
    std::vector<BYTE> buf(need + 8, 0xEE);
    DWORD small = need / 2;
    EXPECT_FALSE(CryptDecodeObject(X509_ASN_ENCODING, X509_NAME, subject.pbData, subject.cbData, 0, buf.data(),
                                   &small));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(small, need);
    EXPECT_EQ(buf[0], 0xEE);  // nothing written into a buffer that is too small
    // A buffer that starts at an odd address is filled as well.
    for (std::size_t shift = 1; shift < 8; ++shift) {
        DWORD n = need;
        ASSERT_TRUE(CryptDecodeObject(X509_ASN_ENCODING, X509_NAME, subject.pbData, subject.cbData, 0,
                                      buf.data() + shift, &n));
        EXPECT_LE(n, need);
    }
}

TEST(CertDecode, DamagedInputFailsWithoutReadingPastIt) {
    Ctx c = ctxOf(ca2012().issue(richSubject()));
    ASSERT_TRUE(c);
    const CERT_NAME_BLOB& subject = c->pCertInfo->Subject;
    BOOL ok = TRUE;
    DWORD err = 0;
    // Every proper prefix is cut short; each copy is exactly as long as
    // the bytes handed over, so a read past them would be caught.
    for (DWORD n = 1; n < subject.cbData; ++n) {
        std::vector<BYTE> cut(subject.pbData, subject.pbData + n);
        decode(X509_NAME, cut.data(), n, ok, err);
        ASSERT_FALSE(ok) << n;
        EXPECT_EQ(err, CRYPT_E_ASN1_CORRUPT);
    }
    std::vector<BYTE> trailing(subject.pbData, subject.pbData + subject.cbData);
    trailing.push_back(0);
    decode(X509_NAME, trailing.data(), static_cast<DWORD>(trailing.size()), ok, err);
    EXPECT_FALSE(ok);
    const BYTE garbage[] = {0x30, 0x03, 0x31, 0x01, 0xFF};
    decode(X509_NAME, garbage, sizeof garbage, ok, err);
    EXPECT_FALSE(ok);
    decode(X509_ENHANCED_KEY_USAGE, garbage, sizeof garbage, ok, err);
    EXPECT_FALSE(ok);
    decode(X509_AUTHORITY_KEY_ID2, garbage, sizeof garbage, ok, err);
    EXPECT_FALSE(ok);
    // A UTF8String that is not UTF-8 is no name.
    const BYTE badUtf8[] = {0x30, 0x0E, 0x31, 0x0C, 0x30, 0x0A, 0x06, 0x03, 0x55, 0x04,
                            0x03, 0x0C, 0x03, 0x41, 0xC3, 0x28};
    decode(X509_NAME, badUtf8, sizeof badUtf8, ok, err);
    EXPECT_FALSE(ok);
    decode(X509_NAME, nullptr, 0, ok, err);
    EXPECT_FALSE(ok);
    decode(reinterpret_cast<LPCSTR>(9999), subject.pbData, subject.cbData, ok, err);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(CryptDecodeObject(X509_ASN_ENCODING, X509_NAME, subject.pbData, subject.cbData, 0, nullptr, nullptr));
}

TEST(CertDecode, EnhancedKeyUsageInCertificateOrder) {
    CertFields fields;
    fields.subject = {{"2.5.4.3", testca::UTF8, "EKU"}};
    fields.withEku = true;
    fields.purposes = {"1.2.643.2.2.34.6", "1.3.6.1.5.5.7.3.2", "1.2.3.4.5.6.7.8.9.10.11.12"};
    Ctx c = ctxOf(ca2012().issue(fields));
    ASSERT_TRUE(c);
    const CERT_EXTENSION* ext = extensionOf(c.get(), szOID_ENHANCED_KEY_USAGE);
    ASSERT_NE(ext, nullptr);
    for (LPCSTR type : {X509_ENHANCED_KEY_USAGE, static_cast<LPCSTR>(szOID_ENHANCED_KEY_USAGE)}) {
        auto buf = decodeOk(type, ext->Value);
        ASSERT_FALSE(buf.empty());
        const auto* usage = reinterpret_cast<const CERT_ENHKEY_USAGE*>(buf.data());
        ASSERT_EQ(usage->cUsageIdentifier, 3u);
        for (DWORD i = 0; i < 3; ++i) EXPECT_EQ(usage->rgpszUsageIdentifier[i], fields.purposes[i]);
    }
    EXPECT_EQ(extensionOf(c.get(), "2.5.29.19"), nullptr);
}

TEST(CertDecode, AuthorityKeyIdentifierWithAndWithoutKeyId) {
    CertFields fields;
    fields.subject = {{"2.5.4.3", testca::UTF8, "AKI"}};
    fields.akiIssuerSerial = true;
    Ctx c = ctxOf(ca2012().issue(fields));
    ASSERT_TRUE(c);
    const CERT_EXTENSION* ext = extensionOf(c.get(), szOID_AUTHORITY_KEY_IDENTIFIER2);
    ASSERT_NE(ext, nullptr);
    auto buf = decodeOk(X509_AUTHORITY_KEY_ID2, ext->Value);
    ASSERT_FALSE(buf.empty());
    const auto* aki = reinterpret_cast<const CERT_AUTHORITY_KEY_ID2_INFO*>(buf.data());
    EXPECT_EQ(Bytes(aki->KeyId.pbData, aki->KeyId.pbData + aki->KeyId.cbData), ca2012().keyId());
    ASSERT_EQ(aki->AuthorityCertIssuer.cAltEntry, 2u);
    const CERT_ALT_NAME_ENTRY& dir = aki->AuthorityCertIssuer.rgAltEntry[0];
    EXPECT_EQ(dir.dwAltNameChoice, static_cast<DWORD>(CERT_ALT_NAME_DIRECTORY_NAME));
    EXPECT_EQ(Bytes(dir.DirectoryName.pbData, dir.DirectoryName.pbData + dir.DirectoryName.cbData),
              Bytes(c->pCertInfo->Issuer.pbData, c->pCertInfo->Issuer.pbData + c->pCertInfo->Issuer.cbData));
    const CERT_ALT_NAME_ENTRY& dns = aki->AuthorityCertIssuer.rgAltEntry[1];
    EXPECT_EQ(dns.dwAltNameChoice, static_cast<DWORD>(CERT_ALT_NAME_DNS_NAME));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(dns.pwszDNSName)), u"ca.example");
    // Serial 00 9A 01 as CryptoAPI keeps it: last byte first.
    const CRYPT_INTEGER_BLOB& sn = aki->AuthorityCertSerialNumber;
    EXPECT_EQ(Bytes(sn.pbData, sn.pbData + sn.cbData), (Bytes{0x01, 0x9A, 0x00}));

    fields.withKeyId = false;
    c = ctxOf(ca2012().issue(fields));
    ext = extensionOf(c.get(), szOID_AUTHORITY_KEY_IDENTIFIER2);
    ASSERT_NE(ext, nullptr);
    buf = decodeOk(X509_AUTHORITY_KEY_ID2, ext->Value);
    ASSERT_FALSE(buf.empty());
    aki = reinterpret_cast<const CERT_AUTHORITY_KEY_ID2_INFO*>(buf.data());
    EXPECT_EQ(aki->KeyId.cbData, 0u);
    EXPECT_EQ(aki->AuthorityCertIssuer.cAltEntry, 2u);
}

// ---- CertVerifyRevocation and the revocation lists folder

class RevocationTest : public testutil::CspDirTest {
protected:
    BOOL ask(std::vector<const CERT_CONTEXT*> certs, CERT_REVOCATION_STATUS& status) {
        status = CERT_REVOCATION_STATUS{};
        status.cbSize = sizeof(status);
        std::vector<void*> contexts;
        for (const CERT_CONTEXT* c : certs) contexts.push_back(const_cast<CERT_CONTEXT*>(c));
        return CertVerifyRevocation(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, CERT_CONTEXT_REVOCATION_TYPE,
                                    static_cast<DWORD>(contexts.size()), contexts.data(),
                                    CERT_VERIFY_REV_CHAIN_FLAG, nullptr, &status);
    }
    Ctx withSerial(const Bytes& serial) {
        CertFields fields;
        fields.subject = {{"2.5.4.3", testca::UTF8, "R"}};
        fields.serial = serial;
        return ctxOf(ca2012().issue(fields));
    }
};

TEST_F(RevocationTest, AnswersFromTheListsInTheFolder) {
    static_assert(sizeof(CERT_REVOCATION_STATUS) == 24);
    Ctx good = withSerial({0x11});
    Ctx bad = withSerial({0x22, 0x33});
    CERT_REVOCATION_STATUS st{};
    // No folder, no list: the state cannot be learned.
    EXPECT_FALSE(ask({good.get()}, st));
    EXPECT_EQ(st.dwError, CRYPT_E_NO_REVOCATION_CHECK);
    // A list of another CA does not count.
    testca::TestCA other(oracle::Kind::G2012_256, "Other CA");
    putCrl(dir(), "other.crl", other.crl({{{0x11}, 1}}));
    putCrl(dir(), "junk.crl", testutil::bytesOf("not a list"));
    EXPECT_FALSE(ask({good.get()}, st));
    EXPECT_EQ(st.dwError, CRYPT_E_NO_REVOCATION_CHECK);

    putCrl(dir(), "ca.crl", ca2012().crl({{{0x22, 0x33}, CRL_REASON_KEY_COMPROMISE}}));
    EXPECT_TRUE(ask({good.get()}, st));
    EXPECT_FALSE(ask({good.get(), bad.get()}, st));
    EXPECT_EQ(st.dwError, CRYPT_E_REVOKED);
    EXPECT_EQ(st.dwIndex, 1u);
    EXPECT_EQ(st.dwReason, static_cast<DWORD>(CRL_REASON_KEY_COMPROMISE));
    EXPECT_EQ(GetLastError(), CRYPT_E_REVOKED);
}

TEST_F(RevocationTest, PemListsStaleListsAndBadArguments) {
    Ctx good = withSerial({0x44});
    Ctx bad = withSerial({0x45});
    CERT_REVOCATION_STATUS st{};
    putCrl(dir(), "stale.pem", ca2012().crl({}, -10 * 86400, -86400, true));
    EXPECT_FALSE(ask({good.get()}, st));
    EXPECT_EQ(st.dwError, CRYPT_E_REVOCATION_OFFLINE);
    // An entry stays revoked in an old list; a current PEM list answers.
    putCrl(dir(), "old.pem", ca2012().crl({{{0x45}, -1}}, -10 * 86400, -86400, true));
    EXPECT_FALSE(ask({bad.get()}, st));
    EXPECT_EQ(st.dwError, CRYPT_E_REVOKED);
    EXPECT_EQ(st.dwReason, 0u);
    putCrl(dir(), "current.pem", ca2012().crl({}, -60, 86400, true));
    EXPECT_TRUE(ask({good.get()}, st));

    st.cbSize = 20;
    void* one[] = {const_cast<CERT_CONTEXT*>(good.get())};
    EXPECT_FALSE(CertVerifyRevocation(X509_ASN_ENCODING, CERT_CONTEXT_REVOCATION_TYPE, 1, one, 0, nullptr, &st));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(CertVerifyRevocation(X509_ASN_ENCODING, CERT_CONTEXT_REVOCATION_TYPE, 1, one, 0, nullptr, nullptr));
}
