// The provider handle, key connections, the CA-side key store and the user
// certificate list.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "CspTestSupport.h"
#include "GostOracle.h"
#include "crypto/CACertStore.h"
#include "crypto/Crypto1By1Connect.h"
#include "crypto/CryptoBase.h"
#include "crypto/UserCerts.h"
#include "errors/eErrCodes.h"

using namespace qn::crypto;
using namespace testutil;

namespace {

tesel::CBlob blobOf(const Bytes& b) { return tesel::CBlob(b.data(), static_cast<unsigned>(b.size())); }
Bytes bytesOfBlob(const tesel::CBlob& b) { return Bytes(b.getData(), b.getData() + b.getSize()); }

std::unique_ptr<Crypto1By1Connect> created(const std::string& name, eSupportCP kind) {
    Crypto1By1Connect* raw = nullptr;
    const unsigned r = Crypto1By1Connect::create(name, kind, &raw);
    std::unique_ptr<Crypto1By1Connect> c(raw);
    EXPECT_EQ(r, 0u);
    return c;
}

class ConnectionTest : public CspDirTest {};

const unsigned kNotOpen = ERR_CSP_NOT_INITIALIZED;

}  // namespace

TEST_F(ConnectionTest, EmptyCryptoAnswersThree) {
    Crypto c;
    tesel::CBlob out;
    std::string text;
    Crypto2SideInfo side;
    UserCspInfo info;
    std::vector<std::string> names;
    CryptoHandle key = 0;
    EXPECT_FALSE(c.isValid());
    EXPECT_EQ(c.getCSP(), CP_NONE);
    EXPECT_EQ(c.getSzSign(), 0u);
    EXPECT_EQ(c.getProvider(), nullptr);
    EXPECT_EQ(c.clone(), nullptr);
    EXPECT_EQ(c.signMessage(out, out), kNotOpen);
    EXPECT_EQ(c.getPublicKeyBlob(out), kNotOpen);
    EXPECT_EQ(c.encryptMessage(out, side, out), kNotOpen);
    EXPECT_EQ(c.decryptMessage(out, side, out), kNotOpen);
    EXPECT_EQ(c.createSessionKey(key, out), kNotOpen);
    EXPECT_EQ(c.getCspInfo(info), kNotOpen);
    EXPECT_EQ(c.getContainersList(names), kNotOpen);
    EXPECT_EQ(c.getUniqueContainer(text), kNotOpen);
    EXPECT_EQ(c.verifySignMessage(out, 0), kNotOpen);
}

TEST_F(ConnectionTest, LoadChoosesTheInterfaceAndKeepsTheOldProviderOnFailure) {
    Crypto c;
    ASSERT_EQ(c.load(CP_CRYPTOPRO_GOST2012_256), 0u);
    auto first = c.getProvider();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(c.load(static_cast<eSupportCP>(3)), static_cast<unsigned>(ERR_INTERNAL));
    EXPECT_EQ(c.load("nobody", CP_CRYPTOPRO), static_cast<unsigned>(ERR_CONTAINER_OPEN));
    EXPECT_EQ(c.getProvider(), first);
    EXPECT_EQ(c.load(nullptr, tesel::CERT_STORE_SYSTEM), kNotOpen);
    EXPECT_EQ(c.load(nullptr, static_cast<tesel::eCertStore>(5)), static_cast<unsigned>(ERR_INTERNAL));
    EXPECT_EQ(c.getProvider(), first);
    // Copies share the provider.
    Crypto copy;
    copy = c;
    EXPECT_EQ(copy.getProvider(), first);
    EXPECT_EQ(Crypto::remove("x", CP_CRYPTOPRO), 0u);
    EXPECT_EQ(Crypto1By1Connect::remove("x", CP_CRYPTOPRO), 0u);
    EXPECT_EQ(Crypto1By1Connect::remove("x", static_cast<eSupportCP>(0)), static_cast<unsigned>(ERR_INTERNAL));

    unsigned char bytes[] = {1, 2, 3, 4, 5};
    tesel::BLOB b{5, bytes};
    Crypto::convertToRevertEndian(b);
    EXPECT_EQ(Bytes(bytes, bytes + 5), (Bytes{5, 4, 3, 2, 1}));
}

TEST_F(ConnectionTest, TwoConnectionsExchangeSignedMessages) {
    auto alice = created("alice", CP_CRYPTOPRO_GOST2012_512);
    auto bob = created("bob", CP_CRYPTOPRO_GOST2012_512);
    tesel::CBlob pubA, pubB;
    ASSERT_EQ(alice->getPublicKey(pubA), 0u);
    ASSERT_EQ(bob->getPublicKey(pubB), 0u);
    const tesel::CBlob serial = blobOf(Bytes{0x01, 0x02});
    ASSERT_EQ(alice->importPublicKey2Side(pubB, serial), 0u);
    ASSERT_EQ(bob->importPublicKey2Side(pubA), 0u);
    EXPECT_EQ(bytesOfBlob(alice->get2SideInfo().getCertSN()), (Bytes{0x01, 0x02}));

    tesel::CBlob message, signedMessage, plain;
    ASSERT_EQ(alice->encryptMessage(blobOf(bytesOf("to bob")), message), 0u);
    ASSERT_EQ(alice->signMessage(message, signedMessage), 0u);
    EXPECT_EQ(signedMessage.getSize(), message.getSize() + 128);
    ASSERT_EQ(bob->verifySignMessage(signedMessage), 0u);
    ASSERT_EQ(bob->decryptMessage(message, plain), 0u);
    EXPECT_EQ(bytesOfBlob(plain), bytesOf("to bob"));
    std::string unique;
    ASSERT_EQ(bob->getUniqueContainer(unique), 0u);
    EXPECT_EQ(unique, "\\\\.\\FILES\\bob");
}

TEST_F(ConnectionTest, AgreementHandlesAreGivenBackWhenReplaced) {
    auto alice = created("alice", CP_CRYPTOPRO);
    auto bob = created("bob", CP_CRYPTOPRO);
    tesel::CBlob pubB;
    bob->getPublicKey(pubB);
    ASSERT_EQ(alice->importPublicKey2Side(pubB), 0u);
    const Crypto2SideInfo first = alice->get2SideInfo();
    {
        // A copy uses the same keys but does not own them.
        Crypto1By1Connect copy(*alice);
        EXPECT_EQ(copy.get2SideInfo().getAgreeKey(), first.getAgreeKey());
    }
    tesel::CBlob message;
    EXPECT_EQ(alice->encryptMessage(blobOf(bytesOf("still fine")), message), 0u);
    ASSERT_EQ(alice->importPublicKey2Side(pubB), 0u);
    // The first agreement's handles are gone; the new ones work.
    EXPECT_FALSE(CryptDestroyKey(first.getAgreeKey()));
    EXPECT_FALSE(CryptDestroyKey(first.getPublicKey()));
    EXPECT_EQ(alice->encryptMessage(blobOf(bytesOf("new keys")), message), 0u);
}

TEST_F(ConnectionTest, StoreOrderAndLookups) {
    CACertStore::cmpByblob less;
    const tesel::CBlob shortBlob = blobOf(Bytes{0xFF, 0xFF});
    const tesel::CBlob a = blobOf(Bytes{0x01, 0x02, 0x03});
    const tesel::CBlob b = blobOf(Bytes{0x01, 0x03, 0x00});
    EXPECT_TRUE(less(shortBlob, a));  // shorter first
    EXPECT_FALSE(less(a, shortBlob));
    EXPECT_TRUE(less(b, a));          // equal length: greater bytes first
    EXPECT_FALSE(less(a, b));
    EXPECT_FALSE(less(a, a));

    qn::http_transport::KeyExchangeHeader header;
    Crypto1By1Connect out;
    // Format 1 with nothing prepared (only when no other test filled the store).
    if (CACertStore::instance().firstCryptoModule() == nullptr) {
        header.format = 1;
        header.senderPublicKey = a;
        EXPECT_EQ(getCrypto(header, out), static_cast<unsigned>(ERR_KEY_AGREEMENT));
        EXPECT_EQ(header.format, 1u);
    }
    // Format 2 to a key nobody prepared: 8, and the store does not grow.
    header.format = 2;
    header.recipientPublicKey = blobOf(Bytes(70, 0x42));
    EXPECT_EQ(getCrypto(header, out), static_cast<unsigned>(ERR_KEY_AGREEMENT));
    EXPECT_EQ(CACertStore::instance().findCryptoModule(header.recipientPublicKey), nullptr);
    header.format = 3;
    EXPECT_EQ(getCrypto(header, out), static_cast<unsigned>(ERR_INTERNAL));

    ControllerCACrypto& module = getCryptoModule(header.recipientPublicKey);
    EXPECT_FALSE(module.isCryptoInit());
    EXPECT_EQ(&getCryptoModule(header.recipientPublicKey), &module);
}

TEST_F(ConnectionTest, GetCryptoPreparesTheAddressedKey) {
    auto me = created("me", CP_CRYPTOPRO_GOST2012_256);
    auto sender = created("sender", CP_CRYPTOPRO_GOST2012_256);
    tesel::CBlob myKey, senderKey;
    me->getPublicKey(myKey);
    sender->getPublicKey(senderKey);
    ControllerCACrypto& module = getCryptoModule(myKey);
    Crypto1By1Connect* mine = nullptr;
    ASSERT_EQ(Crypto1By1Connect::init("me", CP_CRYPTOPRO_GOST2012_256, &mine), 0u);
    module.setCrypto(mine);
    ASSERT_TRUE(module.isCryptoInit());

    // The sender encrypts to me.
    ASSERT_EQ(sender->importPublicKey2Side(myKey), 0u);
    tesel::CBlob message;
    ASSERT_EQ(sender->encryptMessage(blobOf(bytesOf("for me")), message), 0u);

    qn::http_transport::KeyExchangeHeader header;
    header.format = 2;
    header.senderPublicKey = senderKey;
    header.recipientPublicKey = myKey;
    Crypto1By1Connect out;
    ASSERT_EQ(getCrypto(header, out), 0u);
    tesel::CBlob plain;
    ASSERT_EQ(out.decryptMessage(message, plain), 0u);
    EXPECT_EQ(bytesOfBlob(plain), bytesOf("for me"));
    EXPECT_EQ(out.getProvider(), module.getCrypto()->getProvider());

    // Format 1 takes the store's first key and rewrites the header.
    ControllerCACrypto* first = CACertStore::instance().firstCryptoModule();
    ASSERT_NE(first, nullptr);
    if (first == &module) {
        qn::http_transport::KeyExchangeHeader old;
        old.format = 1;
        old.senderPublicKey = senderKey;
        Crypto1By1Connect out1;
        ASSERT_EQ(getCrypto(old, out1), 0u);
        EXPECT_EQ(old.format, 2u);
        EXPECT_TRUE(old.recipientPublicKey == myKey);
    }

    // A failed initialisation keeps the previous connection.
    auto before = module.getCrypto();
    EXPECT_EQ(module.initByUserCert(nullptr, tesel::CERT_STORE_SYSTEM), kNotOpen);
    EXPECT_FALSE(module.isCryptoInit());
    EXPECT_EQ(module.getCrypto(), before);
}

TEST_F(ConnectionTest, UserCertificatesOfTheSystemStore) {
    ASSERT_TRUE(oracle::available());
    auto ca = oracle::generate(oracle::Kind::G2012_256, "A");
    std::vector<Bytes> ders;
    const WCHAR my[] = {'M', 'Y', 0};
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER, my);
    ASSERT_NE(store, nullptr);
    for (int i = 0; i < 3; ++i) {
        auto key = oracle::generate(oracle::Kind::G2012_256, "XA");
        ders.push_back(oracle::issueCertificate(
            ca, oracle::spkiDer(oracle::Kind::G2012_256, oracle::spkiParams(key), oracle::rawPublic(key)),
            "User " + std::to_string(i), 100 + i, 365));
        PCCERT_CONTEXT c = CertCreateCertificateContext(X509_ASN_ENCODING, ders.back().data(),
                                                        static_cast<DWORD>(ders.back().size()));
        ASSERT_NE(c, nullptr);
        ASSERT_TRUE(CertAddCertificateContextToStore(store, c, CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
        // Adding the same certificate again replaces it in place.
        ASSERT_TRUE(CertAddCertificateContextToStore(store, c, CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
        CertFreeCertificateContext(c);
    }
    CertCloseStore(store, 0);

    std::map<unsigned, const CERT_CONTEXT*> certs;
    ASSERT_EQ(loadUserCerts(tesel::CERT_STORE_SYSTEM, certs), 0u);
    ASSERT_EQ(certs.size(), 3u);
    for (unsigned i = 0; i < 3; ++i) {
        const CERT_CONTEXT* c = certs.at(i);
        EXPECT_EQ(Bytes(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded), ders[i]);
        CertFreeCertificateContext(c);
    }
    std::map<unsigned, const CERT_CONTEXT*> none;
    // A token store without its vendor's library.
    EXPECT_EQ(loadUserCerts(tesel::CERT_STORE_JACARTA, none), static_cast<unsigned>(ERR_CRYPTO_LIBRARY_NOT_FOUND));
    EXPECT_EQ(loadUserCerts(static_cast<tesel::eCertStore>(7), none), static_cast<unsigned>(ERR_INTERNAL));
}

TEST_F(ConnectionTest, CopiesKeepThePairingAliveAfterTheOriginalLetsGo) {
    auto bob = created("bob", CP_CRYPTOPRO_GOST2012_256);
    tesel::CBlob pubB;
    ASSERT_EQ(bob->getPublicKey(pubB), 0u);
    auto alice = created("alice", CP_CRYPTOPRO_GOST2012_256);
    tesel::CBlob pubA;
    ASSERT_EQ(alice->getPublicKey(pubA), 0u);
    ASSERT_EQ(bob->importPublicKey2Side(pubA), 0u);
    ASSERT_EQ(alice->importPublicKey2Side(pubB), 0u);
    Crypto1By1Connect copy(*alice);
    Crypto1By1Connect assigned;
    assigned = copy;
    // Assigning over a copy and destroying the original must leave the
    // shared handles to the copies still using them.
    copy = Crypto1By1Connect();
    alice.reset();
    tesel::CBlob message, plain;
    ASSERT_EQ(assigned.encryptMessage(blobOf(bytesOf("after the original")), message), 0u);
    ASSERT_EQ(bob->decryptMessage(message, plain), 0u);
    EXPECT_EQ(bytesOfBlob(plain), bytesOf("after the original"));
    // Re-pairing the copy gives its old handles back once nobody uses them.
    const Crypto2SideInfo old = assigned.get2SideInfo();
    ASSERT_EQ(assigned.importPublicKey2Side(pubB), 0u);
    EXPECT_FALSE(CryptDestroyKey(old.getAgreeKey()));
}

TEST_F(ConnectionTest, FailedPairingKeepsThePreviousOne) {
    auto bob = created("bob", CP_CRYPTOPRO_GOST2012_256);
    auto alice = created("alice", CP_CRYPTOPRO_GOST2012_256);
    tesel::CBlob pubA, pubB;
    alice->getPublicKey(pubA);
    bob->getPublicKey(pubB);
    ASSERT_EQ(bob->importPublicKey2Side(pubA), 0u);
    ASSERT_EQ(alice->importPublicKey2Side(pubB), 0u);
    const Crypto2SideInfo before = alice->get2SideInfo();
    auto other = created("other", CP_CRYPTOPRO);  // a 2001 key cannot be agreed with
    tesel::CBlob pubOther;
    other->getPublicKey(pubOther);
    EXPECT_NE(alice->importPublicKey2Side(pubOther), 0u);
    EXPECT_EQ(alice->get2SideInfo().getAgreeKey(), before.getAgreeKey());
    tesel::CBlob message, plain;
    ASSERT_EQ(alice->encryptMessage(blobOf(bytesOf("still paired")), message), 0u);
    ASSERT_EQ(bob->decryptMessage(message, plain), 0u);
}

TEST_F(ConnectionTest, OneConnectionServesSeveralThreadsWhileItIsRepaired) {
    auto bob = created("bob", CP_CRYPTOPRO_GOST2012_256);
    auto alice = created("alice", CP_CRYPTOPRO_GOST2012_256);
    tesel::CBlob pubA, pubB;
    alice->getPublicKey(pubA);
    bob->getPublicKey(pubB);
    ASSERT_EQ(alice->importPublicKey2Side(pubB), 0u);
    ASSERT_EQ(bob->importPublicKey2Side(pubA), 0u);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 30; ++i) {
                tesel::CBlob message, plain;
                if (alice->encryptMessage(blobOf(bytesOf("message")), message) != 0 ||
                    bob->decryptMessage(message, plain) != 0 || bytesOfBlob(plain) != bytesOf("message"))
                    ++failures;
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 30; ++i) {
            if (alice->importPublicKey2Side(pubB) != 0) ++failures;
            Crypto1By1Connect copy(*alice);
            tesel::CBlob message;
            if (copy.encryptMessage(blobOf(bytesOf("copy")), message) != 0) ++failures;
        }
    });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
}
