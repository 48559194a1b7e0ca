// Certificate sources, the system store wrapper and the PKI controller's
// certificate list, selection and lookups (also with two threads at once).
#include <thread>
#include <vector>

#include "CertTestSupport.h"
#include "crypto/CCertStores.h"
#include "crypto/ControllerPKIClient.h"
#include "crypto/CryptoApi.h"
#include "crypto/CryptoCert.h"

using namespace certtest;
using namespace qn::crypto;
using testca::CertFields;

namespace {

Bytes certWithSerial(const Bytes& serial, const std::string& cn = "S") {
    CertFields s;
    s.subject = {{"2.5.4.3", testca::UTF8, cn}};
    s.serial = serial;
    return ca2012().issue(s);
}

Bytes serialOf(const CERT_CONTEXT* c) {
    const CRYPT_INTEGER_BLOB& sn = c->pCertInfo->SerialNumber;
    return Bytes(sn.pbData, sn.pbData + sn.cbData);
}

}  // namespace

TEST(CertStores, DisplayNames) {
    const tesel::CCertStores& r = tesel::CCertStores::instance();
    EXPECT_EQ(r.getStoreString(tesel::CERT_STORE_UNDEFINED), ansi("Не определён"));
    EXPECT_EQ(r.getStoreString(tesel::CERT_STORE_SYSTEM), ansi("Хранилище личных сертификатов"));
    EXPECT_EQ(r.getStoreString(tesel::CERT_STORE_JACARTA), "JaCarta GOST");
    EXPECT_EQ(r.getStoreString(tesel::CERT_STORE_RUTOKEN), "RuToken GOST");
    EXPECT_EQ(r.getStoreString(static_cast<tesel::eCertStore>(5)), "JaCarta GOST");
    EXPECT_EQ(r.getStoreType("RuToken GOST"), tesel::CERT_STORE_RUTOKEN);
    EXPECT_EQ(r.getStoreType("rutoken gost"), tesel::CERT_STORE_UNDEFINED);
    EXPECT_EQ(ControllerPKI::getSupportCryptoInterface(tesel::CERT_STORE_SYSTEM), 1);
    EXPECT_EQ(ControllerPKI::getSupportCryptoInterface(tesel::CERT_STORE_JACARTA), 2);
    EXPECT_EQ(ControllerPKI::getSupportCryptoInterface(tesel::CERT_STORE_RUTOKEN), 2);
    EXPECT_EQ(ControllerPKI::getSupportCryptoInterface(tesel::CERT_STORE_UNDEFINED), 0);
}

class CryptoCertTest : public testutil::CspDirTest {};

TEST_F(CryptoCertTest, FindBySerialOverTheCertificatesSerialLength) {
    tesel::CryptoCert store;
    const tesel::CBlob some = blobOf({0x01});
    EXPECT_EQ(store.findCertBySerial(&some), nullptr);  // no store open
    EXPECT_EQ(store.getNextCertInStore(nullptr), nullptr);
    ASSERT_TRUE(store.openStore(tesel::kStoreMY));
    Ctx a = ctxOf(certWithSerial({0x0A, 0x0B, 0x0C}, "A"));
    Ctx b = ctxOf(certWithSerial({0x0B}, "B"));
    ASSERT_TRUE(store.addCertToStore(a.get()));
    ASSERT_TRUE(store.addCertToStore(b.get()));
    ASSERT_TRUE(store.addCertToStore(a.get()));  // replaces, no second copy

    std::vector<Bytes> order;
    for (const CERT_CONTEXT* c = store.getNextCertInStore(nullptr); c; c = store.getNextCertInStore(c)) {
        order.push_back(serialOf(c));
    }
    EXPECT_EQ(order, (std::vector<Bytes>{{0x0C, 0x0B, 0x0A}, {0x0B}}));

    auto find = [&](const Bytes& serial) -> Bytes {
        const tesel::CBlob sn = blobOf(serial);
        Ctx found(store.findCertBySerial(&sn));
        return found ? serialOf(found.get()) : Bytes{};
    };
    EXPECT_EQ(find({0x0C, 0x0B, 0x0A}), (Bytes{0x0C, 0x0B, 0x0A}));
    EXPECT_EQ(find({0x0C, 0x0B, 0x0A, 0xFF}), (Bytes{0x0C, 0x0B, 0x0A}));  // the first bytes count
    EXPECT_EQ(find({0x0B, 0x99}), (Bytes{0x0B}));
    EXPECT_EQ(find({0x0C, 0x0B}), Bytes{});  // shorter than the serial: no match, no overread
    EXPECT_EQ(find({0x0D}), Bytes{});
    const tesel::CBlob empty;
    EXPECT_EQ(store.findCertBySerial(&empty), nullptr);
    EXPECT_EQ(store.findCertBySerial(nullptr), nullptr);
    EXPECT_EQ(store.findCertInStore(nullptr), nullptr);

    // The CA certificate is looked for in "AddressBook" only.
    const tesel::CBlob caSerial = blobOf({0x0B});
    EXPECT_EQ(store.findCACert(&caSerial), nullptr);
    ASSERT_TRUE(store.addCertToStore(b.get()));  // now into the open "AddressBook"
    Ctx ca(store.findCACert(&caSerial));
    ASSERT_TRUE(ca);
    EXPECT_EQ(serialOf(ca.get()), (Bytes{0x0B}));
    EXPECT_EQ(store.findCACert(&empty), nullptr);

    // The provider's certificate list reads "MY" in store order.
    CertMap certs;
    ASSERT_EQ(CryptoApi::getCertList(certs), 0u);
    ASSERT_EQ(certs.size(), 2u);
    EXPECT_EQ(serialOf(certs[0]), (Bytes{0x0C, 0x0B, 0x0A}));
    EXPECT_EQ(serialOf(certs[1]), (Bytes{0x0B}));
    for (auto& [i, c] : certs) CertFreeCertificateContext(c);
}

TEST(PkiController, ListSelectionAndLookups) {
    ControllerPKIClient pki;
    pki.init();
    EXPECT_EQ(pki.getCertStore(), tesel::CERT_STORE_SYSTEM);
    pki.setCertStore(tesel::CERT_STORE_RUTOKEN);
    EXPECT_EQ(pki.getCertStore(), tesel::CERT_STORE_RUTOKEN);
    EXPECT_EQ(pki.getUserCertId(), 0xFFFFFFFFu);
    EXPECT_EQ(pki.getUserCert(), nullptr);

    CertMap certs{{0, ctxOf(certWithSerial({0x01, 0x02})).release()},
                  {1, ctxOf(certWithSerial({0x03})).release()},
                  {2, ctxOf(certWithSerial({0x01, 0x02, 0x03})).release()}};
    pki.setUserCerts(certs);
    // The controller holds references of its own: the caller's go away.
    for (auto& [i, c] : certs) CertFreeCertificateContext(c);

    EXPECT_EQ(pki.getUserCert(), nullptr);  // nothing selected yet
    pki.setUserCert(1);
    EXPECT_EQ(pki.getUserCertId(), 1u);
    CertContextPtr selected = pki.getUserCert();
    ASSERT_TRUE(selected);
    EXPECT_EQ(serialOf(selected.get()), (Bytes{0x03}));
    pki.setUserCert(7);
    EXPECT_EQ(pki.getUserCert(), nullptr);
    EXPECT_EQ(pki.getMapUserCert().size(), 3u);

    // Exact serial bytes (CryptoAPI order): neither longer nor shorter match.
    EXPECT_EQ(pki.findCertBySN(blobOf({0x02, 0x01})), 0);
    EXPECT_EQ(pki.findCertBySN(blobOf({0x03, 0x02, 0x01})), 2);
    EXPECT_EQ(pki.findCertBySN(blobOf({0x02, 0x01, 0x00})), -1);
    EXPECT_EQ(pki.findCertBySN(blobOf({0x02})), -1);
    EXPECT_EQ(pki.findCertBySN(tesel::CBlob()), -1);

    // getCACertificate(index) of the process-wide controller.
    EXPECT_EQ(getCACertificate(12345), nullptr);

    // A certificate held by a command outlives a replaced list.
    pki.setUserCerts({});
    EXPECT_EQ(serialOf(selected.get()), (Bytes{0x03}));
    selected.reset();

    pki.setUserCerts({{5, ctxOf(certWithSerial({0x09})).get()}});
    CertMap taken = pki.clearMapUserCerts();
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_TRUE(pki.getMapUserCert().empty());
    for (auto& [i, c] : taken) CertFreeCertificateContext(c);  // the references passed to us
    pki.setUserCerts({{0, ctxOf(certWithSerial({0x0A})).get()}});
    pki.clearUserCerts();
    EXPECT_TRUE(pki.getMapUserCert().empty());
}

TEST(PkiController, TwoConnectionsAtOnce) {
    ControllerPKIClient pki;
    pki.init();
    std::vector<Ctx> owned;
    for (unsigned char i = 1; i <= 4; ++i) owned.push_back(ctxOf(certWithSerial({i})));
    pki.setUserCert(0);
    // One thread replaces the list while another reads it; a certificate
    // the reader holds must stay valid (the sanitizer run would see it
    // freed under it).
    std::thread writer([&] {
        for (int n = 0; n < 400; ++n) {
            CertMap m{{0, owned[n % 4].get()}, {1, owned[(n + 1) % 4].get()}};
            pki.setUserCerts(m);
            if (n % 50 == 0) pki.clearUserCerts();
        }
    });
    std::size_t seen = 0;
    for (int n = 0; n < 400; ++n) {
        if (CertContextPtr c = pki.getUserCert()) {
            std::this_thread::yield();
            seen += serialOf(c.get()).size();
        }
        pki.findCertBySN(blobOf({0x02}));
        for (auto& [i, c] : pki.getMapUserCert()) seen += c && c->pCertInfo ? 1 : 0;
    }
    writer.join();
    EXPECT_LE(seen, 400u * 3);
}
