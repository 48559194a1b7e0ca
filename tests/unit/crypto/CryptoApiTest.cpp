// The CryptoAPI provider: opening and creating containers, signatures, key
// agreement, session keys, the encrypted message format and its codes.
#include <gtest/gtest.h>

#include <memory>

#include "CspTestSupport.h"
#include "GostOracle.h"
#include "crypto/CryptoApi.h"
#include "crypto/CspAlgorithms.h"
#include "errors/eErrCodes.h"

using namespace qn::crypto;
using namespace testutil;

namespace {

using ApiPtr = std::unique_ptr<CryptoApi>;

tesel::CBlob blobOf(const Bytes& b) { return tesel::CBlob(b.data(), static_cast<unsigned>(b.size())); }
Bytes bytesOfBlob(const tesel::CBlob& b) { return Bytes(b.getData(), b.getData() + b.getSize()); }

ApiPtr create(const std::string& name, eSupportCP kind) {
    CryptoApi* p = nullptr;
    const unsigned r = CryptoApi::create(name, kind, &p);
    ApiPtr holder(p);
    EXPECT_EQ(r, 0u);
    return r == 0 ? std::move(holder) : nullptr;
}

ApiPtr open(const std::string& name, eSupportCP kind, unsigned expect = 0) {
    CryptoApi* p = nullptr;
    const unsigned r = CryptoApi::init(name, kind, &p);
    ApiPtr holder(p);
    EXPECT_EQ(r, expect);
    return holder;
}

class CryptoApiTest : public CspDirTest {};

}  // namespace

TEST_F(CryptoApiTest, FactoriesAndTheirCodes) {
    CryptoApi* raw = nullptr;
    EXPECT_EQ(CryptoApi::init(CP_CRYPTOPRO, &raw), 0u);
    ApiPtr verify(raw);
    EXPECT_TRUE(verify->isValid());
    EXPECT_EQ(verify->getCSP(), CP_CRYPTOPRO);

    // An unknown provider type cannot be opened, but the object is handed out.
    raw = nullptr;
    EXPECT_EQ(CryptoApi::init(static_cast<eSupportCP>(3), &raw), static_cast<unsigned>(ERR_CSP_NOT_INITIALIZED));
    ASSERT_NE(raw, nullptr);
    ApiPtr bad(raw);
    EXPECT_FALSE(bad->isValid());

    open("missing", CP_CRYPTOPRO, ERR_CONTAINER_OPEN);
    ApiPtr made = create("made", CP_CRYPTOPRO_GOST2012_256);
    ASSERT_TRUE(made);
    raw = nullptr;
    EXPECT_EQ(CryptoApi::create("made", CP_CRYPTOPRO_GOST2012_256, &raw),
              static_cast<unsigned>(ERR_CONTAINER_NOT_CREATED));
    delete raw;

    // A container without a key opens as a container but not as a key.
    HCRYPTPROV empty = 0;
    ASSERT_TRUE(CryptAcquireContextA(&empty, "empty", nullptr, 75, CRYPT_NEWKEYSET));
    CryptReleaseContext(empty, 0);
    open("empty", CP_CRYPTOPRO, ERR_CONTAINER_OPEN);

    EXPECT_EQ(CryptoApi::remove("made", CP_CRYPTOPRO_GOST2012_256), 0u);
    open("made", CP_CRYPTOPRO_GOST2012_256);  // remove() deletes nothing
}

TEST_F(CryptoApiTest, InformationAndContainerLists) {
    ApiPtr a = create("alpha", CP_CRYPTOPRO);
    ApiPtr b = create("beta", CP_CRYPTOPRO);
    std::string text;
    ASSERT_EQ(a->getCspVersion(text), 0u);
    EXPECT_EQ(text, "1.0");
    ASSERT_EQ(a->getUniqueContainer(text), 0u);
    EXPECT_EQ(text, "\\\\.\\FILES\\alpha");
    UserCspInfo info;
    ASSERT_EQ(a->getCspInfo(info), 0u);
    EXPECT_EQ(info.getCspType(), CP_CRYPTOPRO);
    EXPECT_EQ(info.getCspVersion(), "1.0");

    std::vector<std::string> names, full;
    ASSERT_EQ(a->getContainersAllList(names, full), 0u);
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "beta"}));
    EXPECT_EQ(full, (std::vector<std::string>{"\\\\.\\FILES\\alpha", "\\\\.\\FILES\\beta"}));
    std::vector<std::string> preset{"keep"};
    ASSERT_EQ(a->getContainersList(preset), 0u);
    EXPECT_EQ(preset, std::vector<std::string>{"keep"});

    ApiPtr vipnet = create("vip", CP_VIPNET);
    std::vector<std::string> none;
    ASSERT_EQ(vipnet->getContainersList(none), 0u);
    EXPECT_TRUE(none.empty());
    EXPECT_TRUE(vipnet->isVipnet());
    EXPECT_EQ(vipnet->getExportSessionKeyAlgId(), 108u);
    EXPECT_EQ(a->getExportSessionKeyAlgId(), 7u);

    EXPECT_EQ(a->removeKeyPair("beta"), 0u);
    names.clear();
    a->getContainersList(names);
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "vip"}));
    EXPECT_EQ(a->clone(), nullptr);
    EXPECT_EQ(a->release(), 0u);
}

TEST_F(CryptoApiTest, SignAndVerifyInEveryClass) {
    for (eSupportCP kind : {CP_CRYPTOPRO, CP_VIPNET_GOST2012_256, CP_CRYPTOPRO_GOST2012_512}) {
        ApiPtr signer = create("s" + std::to_string(kind), kind);
        ApiPtr verifier;
        CryptoApi* raw = nullptr;
        ASSERT_EQ(CryptoApi::init(kind, &raw), 0u);
        verifier.reset(raw);
        const tesel::CBlob data = blobOf(bytesOf("payload to sign"));
        tesel::CBlob signedData;
        ASSERT_EQ(signer->signMessage(data, signedData), 0u);
        ASSERT_EQ(signedData.getSize(), data.getSize() + getSignSize(kind));
        EXPECT_EQ(signedData.getOffset(), 0u);

        tesel::CBlob pub;
        ASSERT_EQ(signer->getPublicKeyBlob(pub), 0u);
        Crypto2SideInfo side;
        ASSERT_EQ(verifier->importPublicKey2Side(pub, side), 0u);  // no user key: import only
        EXPECT_NE(side.getPublicKey(), 0u);
        EXPECT_EQ(side.getAgreeKey(), 0u);
        EXPECT_EQ(verifier->verifySignMessage(signedData, side.getPublicKey()), 0u);
        tesel::CBlob tampered = signedData;
        tampered[tampered.getSize() - 1] ^= 1;
        EXPECT_EQ(verifier->verifySignMessage(tampered, side.getPublicKey()),
                  static_cast<unsigned>(ERR_PACKET_INTEGRITY));
        tampered = signedData;
        tampered[0] ^= 1;
        EXPECT_EQ(verifier->verifySignMessage(tampered, side.getPublicKey()),
                  static_cast<unsigned>(ERR_PACKET_INTEGRITY));
        // Shorter than a signature: refused, not read past the end.
        EXPECT_EQ(verifier->verifySignMessage(tesel::CBlob(signedData, 0, 10), side.getPublicKey()),
                  static_cast<unsigned>(ERR_PACKET_INTEGRITY));
    }
}

TEST_F(CryptoApiTest, NotOpenedProvidersAnswerThree) {
    CryptoApi* raw = nullptr;
    CryptoApi::init(static_cast<eSupportCP>(3), &raw);
    ApiPtr closed(raw);
    tesel::CBlob out;
    UserCspInfo info;
    Crypto2SideInfo side;
    EXPECT_EQ(closed->signMessage(blobOf(bytesOf("x")), out), static_cast<unsigned>(ERR_CSP_NOT_INITIALIZED));
    EXPECT_EQ(closed->verifySignMessage(out, 0), static_cast<unsigned>(ERR_CSP_NOT_INITIALIZED));
    EXPECT_EQ(closed->getCspInfo(info), static_cast<unsigned>(ERR_CSP_NOT_INITIALIZED));
    EXPECT_EQ(closed->decryptMessage(out, side, out), static_cast<unsigned>(ERR_CSP_NOT_INITIALIZED));
    EXPECT_EQ(closed->getPublicKeyBlob(out), static_cast<unsigned>(ERR_INTERNAL));
    EXPECT_EQ(closed->importPublicKey2Side(out, side), static_cast<unsigned>(ERR_IMPORT_PEER_PUBLIC_KEY));
}

TEST_F(CryptoApiTest, MessagesBetweenTwoContainers) {
    for (eSupportCP kind : {CP_CRYPTOPRO, CP_CRYPTOPRO_GOST2012_256, CP_VIPNET_GOST2012_512}) {
        ApiPtr alice = create("alice" + std::to_string(kind), kind);
        ApiPtr bob = create("bob" + std::to_string(kind), kind);
        tesel::CBlob pubA, pubB;
        ASSERT_EQ(alice->getPublicKeyBlob(pubA), 0u);
        ASSERT_EQ(bob->getPublicKeyBlob(pubB), 0u);
        Crypto2SideInfo toBob, toAlice;
        ASSERT_EQ(alice->importPublicKey2Side(pubB, toBob), 0u);
        ASSERT_EQ(bob->importPublicKey2Side(pubA, toAlice), 0u);
        EXPECT_EQ(toBob.getAgreeKeyIV().getSize(), 8u);
        EXPECT_TRUE(toBob.getPublicKeyBlob() == pubB);

        for (unsigned size : {0u, 1u, 1024u, 1025u, 5000u}) {
            Bytes text(size);
            for (unsigned i = 0; i < size; ++i) text[i] = static_cast<unsigned char>(i * 13);
            tesel::CBlob message;
            ASSERT_EQ(alice->encryptMessage(blobOf(text), toBob, message), 0u) << size;
            // u32 blob length, SIMPLEBLOB, u32 8, IV, cipher text as long as the text.
            const unsigned n = message[0] | (message[1] << 8);
            EXPECT_EQ(message.getSize(), 4 + n + 4 + 8 + size);
            EXPECT_EQ(message[4 + n], 8);
            tesel::CBlob plain;
            ASSERT_EQ(bob->decryptMessage(message, toAlice, plain), 0u) << size;
            EXPECT_EQ(bytesOfBlob(plain), text);
            EXPECT_EQ(plain.getOffset(), 0u);
        }
        // Two messages of one text differ (a new session key and IV each time).
        tesel::CBlob m1, m2;
        const tesel::CBlob same = blobOf(bytesOf("same text"));
        alice->encryptMessage(same, toBob, m1);
        alice->encryptMessage(same, toBob, m2);
        EXPECT_FALSE(m1 == m2);
    }
}

TEST_F(CryptoApiTest, DamagedMessagesFailWithTheirStepCode) {
    ApiPtr alice = create("alice", CP_CRYPTOPRO_GOST2012_256);
    ApiPtr bob = create("bob", CP_CRYPTOPRO_GOST2012_256);
    tesel::CBlob pubA, pubB;
    alice->getPublicKeyBlob(pubA);
    bob->getPublicKeyBlob(pubB);
    Crypto2SideInfo toBob, toAlice;
    ASSERT_EQ(alice->importPublicKey2Side(pubB, toBob), 0u);
    ASSERT_EQ(bob->importPublicKey2Side(pubA, toAlice), 0u);
    tesel::CBlob message, plain;
    ASSERT_EQ(alice->encryptMessage(blobOf(bytesOf("secret")), toBob, message), 0u);
    const unsigned n = message[0];
    for (unsigned len = 0; len < 4 + n + 4 + 8; ++len) {
        EXPECT_EQ(bob->decryptMessage(tesel::CBlob(message.getData(), len), toAlice, plain),
                  static_cast<unsigned>(ERR_SESSION_KEY))
            << len;
    }
    tesel::CBlob lying = message;
    lying[0] = 0xFF;
    lying[1] = 0xFF;
    EXPECT_EQ(bob->decryptMessage(lying, toAlice, plain), static_cast<unsigned>(ERR_SESSION_KEY));
    tesel::CBlob badMac = message;
    badMac[4 + 56] ^= 1;
    EXPECT_EQ(bob->decryptMessage(badMac, toAlice, plain), static_cast<unsigned>(ERR_SESSION_KEY));
    // A third party cannot open it.
    ApiPtr eve = create("eve", CP_CRYPTOPRO_GOST2012_256);
    Crypto2SideInfo eveSide;
    ASSERT_EQ(eve->importPublicKey2Side(pubA, eveSide), 0u);
    EXPECT_EQ(eve->decryptMessage(message, eveSide, plain), static_cast<unsigned>(ERR_SESSION_KEY));
    // Without an agreed key the export fails (1).
    Crypto2SideInfo noAgreement;
    EXPECT_EQ(alice->encryptMessage(blobOf(bytesOf("x")), noAgreement, message), static_cast<unsigned>(ERR_INTERNAL));
}

TEST_F(CryptoApiTest, AgreementErrorsAndTheParameterSetRewrite) {
    ApiPtr alice = create("alice", CP_CRYPTOPRO_GOST2012_256);
    ApiPtr bob = create("bob", CP_CRYPTOPRO_GOST2012_256);
    tesel::CBlob pubA, pubB;
    alice->getPublicKeyBlob(pubA);
    bob->getPublicKeyBlob(pubB);
    ASSERT_EQ(pubB[25], 0x24);
    // Bob's key written with the signature parameter set 1.2.643.2.2.35.1.
    tesel::CBlob as351 = pubB;
    as351[25] = 0x23;
    as351[26] = 0x01;
    Crypto2SideInfo toBob, toAlice;
    ASSERT_EQ(alice->importPublicKey2Side(as351, toBob), 0u);
    EXPECT_TRUE(toBob.getPublicKeyBlob() == as351);  // the side keeps the blob as given
    ASSERT_EQ(bob->importPublicKey2Side(pubA, toAlice), 0u);
    tesel::CBlob message, plain;
    ASSERT_EQ(alice->encryptMessage(blobOf(bytesOf("rewritten")), toBob, message), 0u);
    ASSERT_EQ(bob->decryptMessage(message, toAlice, plain), 0u);
    EXPECT_EQ(bytesOfBlob(plain), bytesOf("rewritten"));

    Crypto2SideInfo side;
    tesel::CBlob garbage = pubB;
    garbage[garbage.getSize() - 1] ^= 0x55;  // off the curve
    EXPECT_EQ(alice->importPublicKey2Side(garbage, side), static_cast<unsigned>(ERR_IMPORT_PEER_PUBLIC_KEY));
    EXPECT_EQ(alice->importPublicKey2Side(tesel::CBlob(pubB, 0, 5), side),
              static_cast<unsigned>(ERR_IMPORT_PEER_PUBLIC_KEY));
    // A key of another class imports but cannot be agreed with (8); the peer
    // key stays for verification.
    ApiPtr old = create("old", CP_CRYPTOPRO);
    tesel::CBlob pubOld;
    old->getPublicKeyBlob(pubOld);
    Crypto2SideInfo mixed;
    EXPECT_EQ(alice->importPublicKey2Side(pubOld, mixed), static_cast<unsigned>(ERR_KEY_AGREEMENT));
    EXPECT_NE(mixed.getPublicKey(), 0u);
    EXPECT_EQ(mixed.getAgreeKey(), 0u);
}

TEST_F(CryptoApiTest, SessionKeysAndPieces) {
    ApiPtr api = create("k", CP_CRYPTOPRO);
    CryptoHandle key = 0;
    tesel::CBlob iv;
    ASSERT_EQ(api->createSessionKey(key, iv), 0u);
    EXPECT_EQ(iv.getSize(), 8u);
    Bytes text(2049, 0x11);
    tesel::CBlob out;
    ASSERT_EQ(api->encrypt(blobOf(text), key, tesel::CBlob(), out), 0u);
    EXPECT_EQ(out.getSize(), 2049u);
    // The same stream in one CryptEncrypt call gives the same bytes.
    Bytes whole = text;
    DWORD n = static_cast<DWORD>(whole.size());
    ASSERT_TRUE(CryptSetKeyParam(key, KP_IV, iv.getData(), 0));
    ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, whole.data(), &n, n));
    EXPECT_EQ(bytesOfBlob(out), whole);
    tesel::CBlob untouched = blobOf(bytesOf("left alone"));
    EXPECT_EQ(api->decrypt(out, key, iv, untouched), 0u);
    EXPECT_EQ(bytesOfBlob(untouched), bytesOf("left alone"));
    EXPECT_EQ(api->encrypt(blobOf(text), 12345, iv, out), static_cast<unsigned>(ERR_ENCRYPT));
    CryptDestroyKey(key);
}

TEST_F(CryptoApiTest, CertificateIntoContainerAndOpeningByCertificate) {
    ASSERT_TRUE(oracle::available());
    ApiPtr api = create("owner", CP_CRYPTOPRO_GOST2012_256);
    tesel::CBlob pub;
    ASSERT_EQ(api->getPublicKeyBlob(pub), 0u);
    const Bytes blob = bytesOfBlob(pub);
    const Bytes params(blob.begin() + 16, blob.begin() + 16 + 2 + blob[17]);
    const Bytes raw(blob.end() - 64, blob.end());
    auto ca = oracle::generate(oracle::Kind::G2012_256, "A");
    const Bytes der = oracle::issueCertificate(ca, oracle::spkiDer(oracle::Kind::G2012_256, params, raw), "Owner", 77, 365);
    ASSERT_EQ(api->addCertToContainer(blobOf(der)), 0u);
    EXPECT_EQ(api->addCertToContainer(blobOf(bytesOf("junk"))), static_cast<unsigned>(ERR_CERT_DAMAGED));

    // A certificate for somebody else's key is not accepted into the container.
    auto stranger = oracle::generate(oracle::Kind::G2012_256, "XA");
    const Bytes other = oracle::issueCertificate(
        ca, oracle::spkiDer(oracle::Kind::G2012_256, oracle::spkiParams(stranger), oracle::rawPublic(stranger)), "X", 78, 365);
    EXPECT_EQ(api->addCertToContainer(blobOf(other)), static_cast<unsigned>(ERR_CONTAINER_ADD_CERT));

    const CERT_CONTEXT* cert = nullptr;
    ASSERT_EQ(CryptoBase::blobToCertificate(blobOf(der), &cert), 0u);
    CryptoApi* raw2 = nullptr;
    ASSERT_EQ(CryptoApi::init(cert, &raw2), 0u);
    ApiPtr byCert(raw2);
    EXPECT_EQ(byCert->getCSP(), CP_CRYPTOPRO_GOST2012_256);
    tesel::CBlob pub2;
    ASSERT_EQ(byCert->getPublicKeyBlob(pub2), 0u);
    EXPECT_TRUE(pub2 == pub);
    CertFreeCertificateContext(cert);

    ASSERT_EQ(CryptoBase::blobToCertificate(blobOf(other), &cert), 0u);
    raw2 = nullptr;
    EXPECT_EQ(CryptoApi::init(cert, &raw2), static_cast<unsigned>(ERR_CSP_NOT_INITIALIZED));
    delete raw2;
    CertFreeCertificateContext(cert);
    raw2 = nullptr;
    EXPECT_EQ(CryptoApi::init(static_cast<const CERT_CONTEXT*>(nullptr), &raw2),
              static_cast<unsigned>(ERR_CSP_NOT_INITIALIZED));
    delete raw2;
}
