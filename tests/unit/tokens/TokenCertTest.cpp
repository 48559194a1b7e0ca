// Certificates on the token: installing one into a container, finding the
// container of a certificate, and the certificate list of a token store.
#include "GostOracle.h"
#include "TokenTestSupport.h"
#include "crypto/Crypto.h"
#include "crypto/CspAlgorithms.h"
#include "crypto/UserCerts.h"

using namespace qn::crypto;
using namespace tokentest;

namespace {

const unsigned kOk = ERR_OK;

oracle::Kind oracleKind(eSupportCP kind) {
    switch (getPubKeySize(kind)) {
        case 1024:
            return oracle::Kind::G2012_512;
        default:
            return getGostCrypto(kind) == GOST_2001 ? oracle::Kind::G2001 : oracle::Kind::G2012_256;
    }
}

// A certificate for the key of a PUBLICKEYBLOB, from an engine CA.
Bytes certificateFor(const tesel::CBlob& blob, eSupportCP kind, long serial) {
    static const oracle::KeyPtr ca = oracle::generate(oracle::Kind::G2012_256, "XA");
    const unsigned keyBytes = getPubKeySize(kind) / 8;
    const Bytes all = bytesOf(blob);
    const Bytes params(all.begin() + 16, all.end() - keyBytes);
    const Bytes raw(all.end() - keyBytes, all.end());
    return oracle::issueCertificate(ca, oracle::spkiDer(oracleKind(kind), params, raw), "Token owner", serial, 365);
}

struct CertFree {
    void operator()(const CERT_CONTEXT* c) const { CertFreeCertificateContext(c); }
};
using Ctx = std::unique_ptr<const CERT_CONTEXT, CertFree>;

Ctx contextOf(const Bytes& der) {
    const CERT_CONTEXT* c = nullptr;
    CryptoBase::blobToCertificate(blobOf(der), &c);
    return Ctx(c);
}

}  // namespace

class TokenCertTest : public TokenTest {};

TEST_F(TokenCertTest, InstalledCertificateOpensItsContainer) {
    const std::pair<eSupportCP, tesel::eCertStore> cases[] = {
        {CP_JACARTA_GOST, tesel::CERT_STORE_JACARTA},         {CP_JACARTA_GOST2012_256, tesel::CERT_STORE_JACARTA},
        {CP_JACARTA_GOST2012_512, tesel::CERT_STORE_JACARTA}, {CP_RUTOKEN_GOST, tesel::CERT_STORE_RUTOKEN},
        {CP_RUTOKEN_GOST2012_256, tesel::CERT_STORE_RUTOKEN}, {CP_RUTOKEN_GOST2012_512, tesel::CERT_STORE_RUTOKEN},
    };
    long serial = 100;
    for (const auto& [kind, store] : cases) {
        SCOPED_TRACE(kind);
        unsigned r = 0;
        auto p = create("holder", kind, r);
        ASSERT_EQ(r, kOk);
        tesel::CBlob blob;
        ASSERT_EQ(p->getPublicKeyBlob(blob), kOk);
        const Bytes der = certificateFor(blob, kind, ++serial);
        ASSERT_FALSE(der.empty());
        Ctx cert = contextOf(der);
        ASSERT_TRUE(cert);

        // Not installed yet: no key pair for it.
        CryptoP11* raw = nullptr;
        EXPECT_EQ(CryptoP11::init(cert.get(), store, &raw), static_cast<unsigned>(ERR_KEY_PAIR_NOT_FOUND));
        EXPECT_EQ(raw, nullptr);

        // Installed in PEM form, kept as DER.
        const std::string pem = oracle::pemOf(der);
        ASSERT_EQ(p->addCertToContainer(blobOf(textBytes(pem))), kOk);
        EXPECT_EQ(p->addCertToContainer(blobOf(textBytes("no certificate"))), static_cast<unsigned>(ERR_CERT_DAMAGED));

        ASSERT_EQ(CryptoP11::init(cert.get(), store, &raw), kOk);
        std::unique_ptr<CryptoP11> byCert(raw);
        EXPECT_EQ(byCert->getCSP(), kind);  // the kind follows the certificate's key
        std::string unique;
        byCert->getUniqueContainer(unique);
        EXPECT_EQ(unique, "holder");
        tesel::CBlob blob2;
        ASSERT_EQ(byCert->getPublicKeyBlob(blob2), kOk);
        EXPECT_EQ(blob2, blob);
        tesel::CBlob signedData;
        ASSERT_EQ(byCert->signMessage(blobOf(textBytes("by certificate")), signedData), kOk);

        // Through the provider handle, and for a store that is no token.
        Crypto handle;
        EXPECT_EQ(handle.load(cert.get(), store), kOk);
        EXPECT_EQ(handle.getCSP(), kind);
        EXPECT_EQ(handle.load(cert.get(), static_cast<tesel::eCertStore>(5)), static_cast<unsigned>(ERR_INTERNAL));
        raw = nullptr;
        EXPECT_EQ(CryptoP11::init(cert.get(), static_cast<tesel::eCertStore>(3), &raw),
                  static_cast<unsigned>(ERR_INTERNAL));
        EXPECT_EQ(raw, nullptr);
        reset();
    }
}

TEST_F(TokenCertTest, TokenStoreListsTheFirstTenCertificates) {
    for (tesel::eCertStore store : {tesel::CERT_STORE_JACARTA, tesel::CERT_STORE_RUTOKEN}) {
        SCOPED_TRACE(store);
        const eSupportCP kind = store == tesel::CERT_STORE_JACARTA ? CP_JACARTA_GOST2012_256 : CP_RUTOKEN_GOST;
        unsigned r = 0;
        auto p = create("many", kind, r);
        ASSERT_EQ(r, kOk);
        tesel::CBlob blob;
        ASSERT_EQ(p->getPublicKeyBlob(blob), kOk);
        std::vector<Bytes> ders;
        for (long i = 0; i < 12; ++i) {
            ders.push_back(certificateFor(blob, kind, 500 + i));
            ASSERT_EQ(p->addCertToContainer(blobOf(ders.back())), kOk);
        }
        std::map<unsigned, const CERT_CONTEXT*> certs;
        ASSERT_EQ(loadUserCerts(store, certs), kOk);
        ASSERT_EQ(certs.size(), 10u);
        for (unsigned i = 0; i < 10; ++i) {
            ASSERT_EQ(certs.count(i), 1u);
            const CERT_CONTEXT* c = certs[i];
            EXPECT_NE(std::find(ders.begin(), ders.end(), Bytes(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded)),
                      ders.end());
            CertFreeCertificateContext(c);
        }
        reset();
    }
    // Without a provider there is nothing to list.
    std::map<unsigned, const CERT_CONTEXT*> none;
    EXPECT_EQ(CryptoP11::getCertList(none, nullptr), static_cast<unsigned>(ERR_CSP_NOT_INITIALIZED));
}
