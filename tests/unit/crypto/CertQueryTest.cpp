// Turning bytes into a certificate: only certificate content is taken
// (DER, Base64, the first certificate of a PKCS#7 message); a revocation
// list or anything else is refused with 44 and nothing it produced is left
// behind. Also what CryptQueryObject hands back for a list when every
// content type is asked for: a CRL context, which is no certificate.
#include <openssl/evp.h>

#include <string>

#include "CertTestSupport.h"
#include "GostOracle.h"
#include "crypto/CryptoBase.h"
#include "errors/eErrCodes.h"

using namespace certtest;
using qn::crypto::CryptoBase;

namespace {

class CertQueryTest : public testutil::CspDirTest {
protected:
    static Bytes certificate(Bytes serial) {
        testca::CertFields fields;
        fields.subject = {{"2.5.4.3", testca::UTF8, "Query Subject"}};
        fields.serial = std::move(serial);
        return ca2012().issue(fields);
    }
    static Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }
    static unsigned convert(const Bytes& b, const CERT_CONTEXT** out) {
        return CryptoBase::blobToCertificate(blobOf(b), out);
    }
};

// Base64 without armour, wrapped as a mail program would.
std::string bareBase64(const std::string& pem) {
    std::string out;
    std::size_t at = 0;
    while (at < pem.size()) {
        std::size_t end = pem.find('\n', at);
        if (end == std::string::npos) end = pem.size();
        const std::string line = pem.substr(at, end - at);
        if (line.rfind("-----", 0) != 0) out += line + "\r\n";
        at = end + 1;
    }
    return out;
}

std::string base64Of(const Bytes& b) {
    std::string out(4 * ((b.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), b.data(), static_cast<int>(b.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

}  // namespace

TEST_F(CertQueryTest, EveryFormOfACertificateGivesTheCertificate) {
    const Bytes der = certificate({0x51, 0x01});
    const std::string pem = oracle::pemOf(der);
    const Bytes p7 = oracle::pkcs7Of(der);
    for (const Bytes& form : {der, bytesOf(pem), bytesOf(bareBase64(pem)), p7, bytesOf(base64Of(p7))}) {
        const CERT_CONTEXT* cert = nullptr;
        ASSERT_EQ(convert(form, &cert), 0u);
        ASSERT_NE(cert, nullptr);
        EXPECT_EQ(Bytes(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded), der);
        // The context is a certificate context with one reference to give back.
        EXPECT_TRUE(CertFreeCertificateContext(cert));
    }
}

TEST_F(CertQueryTest, ARevocationListIsRefusedAndFreed) {
    const Bytes crl = ca2012().crl({{{0x51, 0x01}, 1}});
    const Bytes crlPem = ca2012().crl({}, -3600, 86400, true);
    for (const Bytes& form : {crl, crlPem}) {
        const CERT_CONTEXT* cert = reinterpret_cast<const CERT_CONTEXT*>(1);
        EXPECT_EQ(convert(form, &cert), static_cast<unsigned>(ERR_CERT_DAMAGED));
        EXPECT_EQ(cert, nullptr);
    }
    // CryptoAPI's own answer when every content type is accepted, as the
    // program used to ask: success, a CRL context, and no certificate.
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(crl.size()), const_cast<BYTE*>(crl.data())};
    DWORD contentType = 0, format = 0;
    const void* context = nullptr;
    ASSERT_TRUE(CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_ALL, CERT_QUERY_FORMAT_FLAG_ALL,
                                 0, nullptr, &contentType, &format, nullptr, nullptr, &context));
    EXPECT_EQ(contentType, static_cast<DWORD>(CERT_QUERY_CONTENT_CRL));
    EXPECT_EQ(format, static_cast<DWORD>(CERT_QUERY_FORMAT_BINARY));
    ASSERT_NE(context, nullptr);
    EXPECT_FALSE(CertFreeCertificateContext(static_cast<const CERT_CONTEXT*>(context)))
        << "a CRL context taken for a certificate";
    const auto* list = static_cast<const CRL_CONTEXT*>(context);
    ASSERT_NE(list->pCrlInfo, nullptr);
    ASSERT_EQ(list->pCrlInfo->cCRLEntry, 1u);
    const CRYPT_INTEGER_BLOB& serial = list->pCrlInfo->rgCRLEntry[0].SerialNumber;
    EXPECT_EQ(Bytes(serial.pbData, serial.pbData + serial.cbData), (Bytes{0x01, 0x51}));
    EXPECT_EQ(Bytes(list->pbCrlEncoded, list->pbCrlEncoded + list->cbCrlEncoded), crl);
    EXPECT_TRUE(CertFreeCRLContext(list));
    // Asked for certificates only, CryptoAPI refuses the list.
    context = nullptr;
    EXPECT_FALSE(CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_CERT,
                                  CERT_QUERY_FORMAT_FLAG_ALL, 0, nullptr, nullptr, nullptr, nullptr, nullptr, &context));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NO_MATCH));
    EXPECT_EQ(context, nullptr);
}

TEST_F(CertQueryTest, BytesThatHoldNoCertificateAreRefused) {
    const Bytes der = certificate({0x51, 0x02});
    const std::string pem = oracle::pemOf(der);
    const std::vector<Bytes> refused = {
        Bytes(),                                    // empty
        bytesOf("not a certificate at all"),        // text
        Bytes(der.begin(), der.end() - 1),          // cut
        [&] { Bytes b = der; b.push_back(0); return b; }(),  // something after it
        Bytes{0x30, 0x03, 0x02, 0x01, 0x01},        // another ASN.1 structure
        bytesOf(pem.substr(0, pem.size() / 2)),     // cut Base64
        bytesOf("====\n"),                          // Base64 of nothing
    };
    for (std::size_t i = 0; i < refused.size(); ++i) {
        const CERT_CONTEXT* cert = reinterpret_cast<const CERT_CONTEXT*>(1);
        EXPECT_EQ(convert(refused[i], &cert), static_cast<unsigned>(ERR_CERT_DAMAGED)) << i;
        EXPECT_EQ(cert, nullptr) << i;
    }
    EXPECT_EQ(CryptoBase::blobToCertificate(blobOf(der), static_cast<const CERT_CONTEXT**>(nullptr)),
              static_cast<unsigned>(ERR_CERT_DAMAGED));
}

TEST_F(CertQueryTest, APkcs7MessageGivesAStoreAndAMessageButNoContext) {
    const Bytes der = certificate({0x51, 0x03});
    const Bytes p7 = oracle::pkcs7Of(der);
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(p7.size()), const_cast<BYTE*>(p7.data())};
    DWORD contentType = 0;
    HCERTSTORE store = nullptr;
    HCRYPTMSG msg = nullptr;
    const void* context = nullptr;
    ASSERT_TRUE(CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_ALL, CERT_QUERY_FORMAT_FLAG_ALL,
                                 0, nullptr, &contentType, nullptr, &store, &msg, &context));
    EXPECT_EQ(contentType, static_cast<DWORD>(CERT_QUERY_CONTENT_PKCS7_SIGNED));
    EXPECT_EQ(context, nullptr) << "a message has no single context";
    ASSERT_NE(store, nullptr);
    ASSERT_NE(msg, nullptr);
    const CERT_CONTEXT* first = CertEnumCertificatesInStore(store, nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Bytes(first->pbCertEncoded, first->pbCertEncoded + first->cbCertEncoded), der);
    EXPECT_EQ(CertEnumCertificatesInStore(store, first), nullptr);  // gives first's reference back
    EXPECT_TRUE(CertCloseStore(store, 0));
    EXPECT_TRUE(CryptMsgClose(msg));
    EXPECT_FALSE(CryptMsgClose(msg)) << "a closed message is unknown";
}
