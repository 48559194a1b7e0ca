// The CA certificate fetched over the transport server connection (a
// loopback HTTP server), the pairing of connections with it, the web crypto
// controller, and a certificate issued by the independent test CA from one
// of our requests installed into its container and "MY".
#include <memory>
#include <string>
#include <vector>

#include "CertTestSupport.h"
#include "app/Settings.h"
#include "client/CClient.h"
#include "crypto/ControllerPKIClient.h"
#include "crypto/ControllerWebCrypto.h"
#include "crypto/CryptoBase.h"
#include "crypto/CryptoCert.h"
#include "errors/eErrCodes.h"
#include "helpers/HttpFixture.h"
#include "pki/CCertObject.h"
#include "pki/RequestPKCS10.h"
#include "transport/TransportServer.h"

using namespace certtest;
using namespace qn::crypto;
using testca::CertFields;

namespace {

const Bytes kSerial2012{0x4C, 0x01, 0x02};
const Bytes kSerial2001{0x20, 0x01};

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::shared_ptr<Crypto1By1Connect> newContainer(const std::string& name, eSupportCP kind) {
    Crypto1By1Connect* raw = nullptr;
    const unsigned r = Crypto1By1Connect::create(name, kind, &raw);
    std::shared_ptr<Crypto1By1Connect> c(raw);
    EXPECT_EQ(r, 0u) << name;
    return c;
}

// SubjectPublicKeyInfo of a connection's key, from its PUBLICKEYBLOB.
Bytes spkiOf(const Crypto1By1Connect& c, oracle::Kind kind) {
    tesel::CBlob blob;
    EXPECT_EQ(c.getPublicKey(blob), 0u);
    const unsigned keyBytes = kind == oracle::Kind::G2012_512 ? 128 : 64;
    const Bytes all(blob.getData(), blob.getData() + blob.getSize());
    const Bytes params(all.begin() + 16, all.end() - keyBytes);
    const Bytes raw(all.end() - keyBytes, all.end());
    return oracle::spkiDer(kind, params, raw);
}

std::size_t requestsTo(testing_http::HttpFixture& fx, const std::string& path) {
    std::size_t n = 0;
    for (const auto& r : fx.log()) n += r.path == path ? 1 : 0;
    return n;
}

}  // namespace

class CACertTest : public testutil::CspDirTest {
protected:
    static void SetUpTestSuite() { s_fx = new testing_http::HttpFixture(); }
    static void TearDownTestSuite() {
        delete s_fx;
        s_fx = nullptr;
    }
    void SetUp() override {
        CspDirTest::SetUp();
        s_fx->reset();
        s_fx->route("/api/etc/getCertCA_2012", text(ca2012().selfCertificate(kSerial2012)));
        s_fx->route("/api/etc/getCertCA", text(ca2001().selfCertificate(kSerial2001)));
        getTransportServer().setHost(testing_http::HttpFixture::host());
        getTransportServer().setPort(s_fx->port());
    }
    testing_http::HttpFixture& fx() { return *s_fx; }

    static testing_http::HttpFixture* s_fx;
};

testing_http::HttpFixture* CACertTest::s_fx = nullptr;

TEST_F(CACertTest, PairsWithTheCACertificateOfEachGeneration) {
    ControllerPKIClient pki;
    pki.init();
    auto c2012 = newContainer("pair2012", CP_CRYPTOPRO_GOST2012_256);
    auto c2001 = newContainer("pair2001", CP_CRYPTOPRO);
    ASSERT_TRUE(c2012 && c2001);

    ASSERT_EQ(pki.loadlCertCA(*c2012), 0u);
    Crypto2SideInfo side = c2012->get2SideInfo();
    EXPECT_EQ(side.getCertSN(), blobOf(reversed(kSerial2012)));
    EXPECT_NE(side.getAgreeKey(), 0u);
    ASSERT_TRUE(pki.getCACertificate());
    EXPECT_EQ(requestsTo(fx(), "/api/etc/getCertCA_2012"), 1u);
    // The cached certificate serves the same generation again.
    ASSERT_EQ(pki.loadlCertCA(*newContainer("again2012", CP_CRYPTOPRO_GOST2012_256)), 0u);
    EXPECT_EQ(requestsTo(fx(), "/api/etc/getCertCA_2012"), 1u);

    // The other generation replaces it, and back again fetches once more.
    ASSERT_EQ(pki.loadlCertCA(*c2001), 0u);
    EXPECT_EQ(c2001->get2SideInfo().getCertSN(), blobOf(reversed(kSerial2001)));
    EXPECT_EQ(requestsTo(fx(), "/api/etc/getCertCA"), 1u);
    ASSERT_EQ(pki.loadlCertCA(*c2012), 0u);
    EXPECT_EQ(requestsTo(fx(), "/api/etc/getCertCA_2012"), 2u);
    const CRYPT_INTEGER_BLOB& sn = pki.getCACertificate()->pCertInfo->SerialNumber;
    EXPECT_EQ(Bytes(sn.pbData, sn.pbData + sn.cbData), reversed(kSerial2012));
}

TEST_F(CACertTest, AnswersThatHoldNoCertificate) {
    auto c = newContainer("bad", CP_CRYPTOPRO_GOST2012_256);
    ASSERT_TRUE(c);
    {
        ControllerPKIClient pki;
        fx().route("/api/etc/getCertCA_2012", "this is no certificate");
        EXPECT_EQ(pki.loadlCertCA(*c), static_cast<unsigned>(ERR_CA_CERT_INSTALL));
        EXPECT_EQ(pki.getCACertificate(), nullptr);
        // Nothing was cached: the next pairing asks again.
        EXPECT_EQ(pki.loadlCertCA(*c), static_cast<unsigned>(ERR_CA_CERT_INSTALL));
        EXPECT_EQ(requestsTo(fx(), "/api/etc/getCertCA_2012"), 2u);
    }
    {
        ControllerPKIClient pki;
        fx().reset();  // an HTML "not found" page
        EXPECT_EQ(pki.loadlCertCA(*c), static_cast<unsigned>(ERR_CA_CERT_INSTALL));
        // A certificate the server sends in PEM or PKCS#7 form is taken.
        fx().route("/api/etc/getCertCA_2012", oracle::pemOf(ca2012().selfCertificate(kSerial2012)));
        EXPECT_EQ(pki.loadlCertCA(*c), 0u);
        pki.setCACertificate(nullptr);
        fx().route("/api/etc/getCertCA_2012", text(oracle::pkcs7Of(ca2012().selfCertificate(kSerial2012))));
        EXPECT_EQ(pki.loadlCertCA(*c), 0u);
        // A revocation list is no CA certificate, whatever the server says.
        pki.setCACertificate(nullptr);
        fx().route("/api/etc/getCertCA_2012", text(ca2012().crl({})));
        EXPECT_EQ(pki.loadlCertCA(*c), static_cast<unsigned>(ERR_CA_CERT_INSTALL));
        EXPECT_EQ(pki.getCACertificate(), nullptr);
        // A failed fetch for the other generation leaves nothing cached.
        fx().route("/api/etc/getCertCA", "garbage");
        EXPECT_EQ(pki.loadlCertCA(*newContainer("bad2001", CP_CRYPTOPRO)),
                  static_cast<unsigned>(ERR_CA_CERT_INSTALL));
        EXPECT_EQ(pki.getCACertificate(), nullptr);
    }
    {
        ControllerPKIClient pki;
        getTransportServer().setPort(fx().refusedPort());
        EXPECT_EQ(pki.loadlCertCA(*c), static_cast<unsigned>(ERR_SERVER_UNREACHABLE));
        // A connection without a provider has nothing to pair.
        Crypto1By1Connect empty;
        EXPECT_EQ(pki.loadlCertCA(empty), static_cast<unsigned>(ERR_CSP_NOT_INITIALIZED));
    }
}

TEST_F(CACertTest, WebCryptoControllerKeepsItsConnectionsOnFailure) {
    EXPECT_EQ(ControllerWebCrypto::instance(), ControllerWebCrypto::instance());
    // The user's certificate, for a key in one of our containers, in "MY".
    auto user = newContainer("user", CP_CRYPTOPRO_GOST2012_256);
    ASSERT_TRUE(user);
    CertFields fields;
    fields.subject = {{"2.5.4.3", testca::UTF8, "User"}};
    fields.subjectSpki = spkiOf(*user, oracle::Kind::G2012_256);
    Ctx cert = ctxOf(ca2012().issue(fields));
    ASSERT_TRUE(cert);
    tesel::CryptoCert my;
    ASSERT_TRUE(my.openStore(tesel::kStoreMY));
    ASSERT_TRUE(my.addCertToStore(cert.get()));

    ControllerWebCrypto wc;
    EXPECT_EQ(wc.getCrypto_2001(), nullptr);
    EXPECT_EQ(wc.getCrypto_2012(), nullptr);
    ASSERT_EQ(wc.init(cert.get(), tesel::CERT_STORE_SYSTEM), 0u);
    const auto paired = wc.getCrypto_2001();
    ASSERT_TRUE(paired);
    EXPECT_EQ(paired->getCSP(), CP_CRYPTOPRO_GOST2012_256);
    EXPECT_EQ(paired->get2SideInfo().getCertSN(), blobOf(reversed(kSerial2012)));

    // A certificate whose key is in no container, a token store, and a CA
    // that cannot be fetched: the paired connection stays.
    fields.subjectSpki.clear();
    Ctx orphan = ctxOf(ca2012().issue(fields));
    EXPECT_EQ(wc.init(orphan.get(), tesel::CERT_STORE_SYSTEM), static_cast<unsigned>(ERR_CSP_NOT_INITIALIZED));
    EXPECT_EQ(wc.init(cert.get(), tesel::CERT_STORE_JACARTA), static_cast<unsigned>(ERR_CRYPTO_LIBRARY_NOT_FOUND));
    ControllerPKIClient::instance().setCACertificate(nullptr);
    fx().route("/api/etc/getCertCA_2012", "garbage");
    EXPECT_EQ(wc.init(cert.get(), tesel::CERT_STORE_SYSTEM), static_cast<unsigned>(ERR_CA_CERT_INSTALL));
    EXPECT_EQ(wc.getCrypto_2001(), paired);

    // New containers: created as GOST 2012 of the requested kind, reopened
    // by name; failures keep the previous connection.
    EXPECT_EQ(wc.initNewContainer("missing", CP_CRYPTOPRO_GOST2012_256), static_cast<unsigned>(ERR_CONTAINER_OPEN));
    EXPECT_EQ(wc.getCrypto_2012(), nullptr);
    ASSERT_EQ(wc.create("fresh", CP_CRYPTOPRO), 0u);
    const auto fresh = wc.getCrypto_2012();
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->getCSP(), CP_CRYPTOPRO_GOST2012_256);
    EXPECT_EQ(wc.create("fresh", CP_CRYPTOPRO), static_cast<unsigned>(ERR_CONTAINER_NOT_CREATED));
    EXPECT_EQ(wc.create("big", CP_CRYPTOPRO_GOST2012_512), static_cast<unsigned>(ERR_INTERNAL));
    EXPECT_EQ(wc.create("token", CP_JACARTA_GOST), static_cast<unsigned>(ERR_CRYPTO_LIBRARY_NOT_FOUND));
    EXPECT_EQ(wc.getCrypto_2012(), fresh);
    ASSERT_EQ(wc.initNewContainer("user", CP_CRYPTOPRO_GOST2012_256), 0u);
    EXPECT_NE(wc.getCrypto_2012(), fresh);

    // create(name) takes the requested kind from the settings.
    setRequestedCSP(CP_VIPNET);
    EXPECT_EQ(wc.create("vipnet"), 0u);
    EXPECT_EQ(wc.getCrypto_2012()->getCSP(), CP_VIPNET_GOST2012_256);
    setRequestedCSP(CP_NONE);
    EXPECT_EQ(wc.create("none"), static_cast<unsigned>(ERR_INTERNAL));
    EXPECT_EQ(wc.getCrypto_2012()->getCSP(), CP_VIPNET_GOST2012_256);

    // Each caller gets the connection its own call made, also when another
    // call (another tab) has replaced the slot since.
    std::shared_ptr<qn::crypto::Crypto1By1Connect> first, second, failed = fresh;
    ASSERT_EQ(wc.create("tab one", CP_CRYPTOPRO_GOST2012_256, &first), 0u);
    ASSERT_EQ(wc.create("tab two", CP_CRYPTOPRO_GOST2012_256, &second), 0u);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(wc.getCrypto_2012(), second);
    tesel::CBlob a, b;
    ASSERT_EQ(first->getPublicKey(a), 0u);
    ASSERT_EQ(second->getPublicKey(b), 0u);
    EXPECT_FALSE(a == b);
    EXPECT_EQ(wc.create("tab one", CP_CRYPTOPRO_GOST2012_256, &failed), static_cast<unsigned>(ERR_CONTAINER_NOT_CREATED));
    EXPECT_EQ(failed, fresh) << "a failed call leaves the caller's pointer alone";
}

TEST_F(CACertTest, CertificateIssuedFromOurRequestFindsItsContainer) {
    auto key = newContainer("applicant", CP_CRYPTOPRO_GOST2012_256);
    ASSERT_TRUE(key);
    tesel::CClient card;
    card.setClientType(tesel::TS_NATURAL_PERSON);
    card.setSurname(ansi("Иванов"));
    card.setName(ansi("Иван"));
    card.setPatronymic(ansi("Иванович"));
    card.setINN("503214967066");
    card.setSNILS("50321496744");
    card.setEmail("ivanov@example.ru");
    card.getAddress().setCity(ansi("Москва"));
    card.getAddress().setRegion(ansi("77 г. Москва"));
    card.getAddress().setStreet(ansi("ул. Ленина"));
    tesel::RequestPKCS10 request;
    ASSERT_EQ(request.fillFromClient(card, CP_CRYPTOPRO_GOST2012_256), 0);
    tesel::CBlob csr;
    ASSERT_EQ(key->signAndEncodePkcs10(request, csr), 0u);

    // The independent CA checks the request's signature and issues.
    CertFields fields;
    fields.serial = {0x12, 0x34, 0x56};
    fields.withEku = true;
    fields.purposes = {"1.3.6.1.5.5.7.3.2", "1.3.6.1.5.5.7.3.4", "1.2.643.2.2.34.25", "1.2.643.2.2.34.26",
                     "1.2.643.2.2.34.6"};
    const Bytes issued = ca2012().issueFromRequest(Bytes(csr.getData(), csr.getData() + csr.getSize()), fields);
    ASSERT_FALSE(issued.empty()) << "the request's signature did not verify";

    ASSERT_EQ(key->addCertToContainer(blobOf(issued)), 0u);
    const CERT_CONTEXT* raw = nullptr;
    ASSERT_EQ(CryptoBase::blobToCertificate(blobOf(issued), &raw), 0u);
    Ctx installed(raw);
    {
        tesel::CryptoCert my;
        ASSERT_TRUE(my.openStore(tesel::kStoreMY));
        ASSERT_TRUE(my.addCertToStore(installed.get()));
    }
    // Found again in "MY" by serial number, and its private key's container.
    tesel::CryptoCert my;
    ASSERT_TRUE(my.openStore(tesel::kStoreMY));
    const tesel::CBlob serial = blobOf(reversed(fields.serial));
    Ctx found(my.findCertBySerial(&serial));
    ASSERT_TRUE(found);
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE prov = 0;
    DWORD keySpec = 0;
    BOOL mustFree = FALSE;
    ASSERT_TRUE(CryptAcquireCertificatePrivateKey(found.get(), 0, nullptr, &prov, &keySpec, &mustFree));
    char name[128] = {};
    DWORD n = sizeof name;
    ASSERT_TRUE(CryptGetProvParam(prov, PP_CONTAINER, reinterpret_cast<BYTE*>(name), &n, 0));
    EXPECT_STREQ(name, "applicant");
    EXPECT_EQ(keySpec, static_cast<DWORD>(AT_KEYEXCHANGE));
    CryptReleaseContext(prov, 0);

    // The parser reads the card's data back out of the certificate.
    CCertObject parsed;
    ASSERT_EQ(parsed.parseCertificate(found.get()), 0u);
    EXPECT_EQ(parsed.getTypeSubject(), tesel::TS_NATURAL_PERSON);
    EXPECT_EQ(parsed.getSubjectAttr(tesel::OID_INN), "503214967066");
    EXPECT_EQ(parsed.getSubjectAttr(tesel::OID_SURNAME), ansi("Иванов"));
    EXPECT_EQ(parsed.getCertTempalate(), tesel::CT_STANDARD);
    int status = 0;
    ControllerPKI::checkCertificateIsQualified(parsed, status);
    EXPECT_EQ(status, CERT_STATUS_OK);
}
