// The token provider against the software token: key pairs, blobs,
// signatures, messages, containers and the device-specific paths.
#include <atomic>
#include <map>
#include <thread>

#include "TokenTestSupport.h"
#include "crypto/C_ASN1.h"
#include "crypto/CspAlgorithms.h"
#include "crypto/UserCerts.h"

using namespace qn::crypto;
using namespace tokentest;

namespace {

const eSupportCP kAllKinds[] = {CP_JACARTA_GOST, CP_JACARTA_GOST2012_256, CP_JACARTA_GOST2012_512,
                                CP_RUTOKEN_GOST, CP_RUTOKEN_GOST2012_256, CP_RUTOKEN_GOST2012_512};

const unsigned kOk = ERR_OK;

unsigned le32(const tesel::CBlob& b, unsigned off) {
    return b[off] | (b[off + 1] << 8) | (b[off + 2] << 16) | (static_cast<unsigned>(b[off + 3]) << 24);
}

}  // namespace

class CryptoP11Test : public TokenTest {};

TEST_F(CryptoP11Test, KeyPairsSignVerifyAndReopenForEveryKind) {
    for (eSupportCP kind : kAllKinds) {
        SCOPED_TRACE(kind);
        const std::string name = "box" + std::to_string(-kind);
        unsigned r = 0;
        auto p = create(name, kind, r);
        ASSERT_EQ(r, kOk);
        EXPECT_EQ(p->getDeviceType(), CryptoP11::getDeviceP11Type(kind));

        tesel::CBlob blob;
        ASSERT_EQ(p->getPublicKeyBlob(blob), kOk);
        const unsigned keyBytes = getPubKeySize(kind) / 8;
        ASSERT_GT(blob.getSize(), 16 + keyBytes);
        EXPECT_EQ(blob[0], 0x06);
        EXPECT_EQ(blob[1], 0x20);
        EXPECT_EQ(le32(blob, 4), static_cast<unsigned>(getPubKeyAlgId(kind)));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(blob.getData() + 8), 4), "MAG1");
        EXPECT_EQ(le32(blob, 12), getPubKeySize(kind));
        // SEQUENCE { signature parameter set, hash parameter set }
        const tesel::CBlob sign = tesel::C_ASN1::encode_ObjId(get_SIGN_PARAM_SET_ALG_OID(kind));
        const tesel::CBlob hash = tesel::C_ASN1::encode_ObjId(get_HASH_PARAM_SET_ALG_OID(kind));
        EXPECT_EQ(blob[16], 0x30);
        EXPECT_EQ(blob[17], sign.getSize() + hash.getSize());
        EXPECT_TRUE(std::equal(sign.getData(), sign.getData() + sign.getSize(), blob.getData() + 18));
        EXPECT_EQ(blob.getSize(), 18 + sign.getSize() + hash.getSize() + keyBytes);

        const tesel::CBlob data = blobOf(textBytes("signed on the token"));
        tesel::CBlob signedData;
        ASSERT_EQ(p->signMessage(data, signedData), kOk);
        ASSERT_EQ(signedData.getSize(), data.getSize() + getSignSize(kind));
        EXPECT_TRUE(std::equal(data.getData(), data.getData() + data.getSize(), signedData.getData()));

        Crypto2SideInfo self;
        ASSERT_EQ(p->importPublicKey2Side(blob, self), kOk);
        EXPECT_NE(self.getPublicKey(), 0u);
        EXPECT_EQ(p->verifySignMessage(signedData, self.getPublicKey()), kOk);
        tesel::CBlob changed = signedData;
        changed[changed.getSize() - 1] ^= 0x01;  // the signature's last byte: 9, not 1
        EXPECT_EQ(p->verifySignMessage(changed, self.getPublicKey()), static_cast<unsigned>(ERR_PACKET_INTEGRITY));
        tesel::CBlob changedData = signedData;
        changedData[0] ^= 0x01;
        EXPECT_EQ(p->verifySignMessage(changedData, self.getPublicKey()),
                  static_cast<unsigned>(ERR_PACKET_INTEGRITY));
        EXPECT_EQ(p->verifySignMessage(blobOf(Bytes(3, 1)), self.getPublicKey()),
                  static_cast<unsigned>(ERR_PACKET_INTEGRITY));

        std::vector<std::string> names;
        ASSERT_EQ(p->getContainersList(names), kOk);
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end());
        std::string unique;
        EXPECT_EQ(p->getUniqueContainer(unique), kOk);
        EXPECT_EQ(unique, name);

        // Reopened by name, the same key pair signs.
        auto again = open(name, kind, r);
        ASSERT_EQ(r, kOk);
        tesel::CBlob blob2;
        ASSERT_EQ(again->getPublicKeyBlob(blob2), kOk);
        EXPECT_EQ(blob2, blob);
        tesel::CBlob signed2;
        ASSERT_EQ(again->signMessage(data, signed2), kOk);
        EXPECT_EQ(p->verifySignMessage(signed2, self.getPublicKey()), kOk);
    }
}

TEST_F(CryptoP11Test, MessagesBetweenTwoContainersOfEachKind) {
    for (eSupportCP kind : kAllKinds) {
        SCOPED_TRACE(kind);
        unsigned r = 0;
        auto alice = create("alice", kind, r);
        ASSERT_EQ(r, kOk);
        auto bob = create("bob", kind, r);
        ASSERT_EQ(r, kOk);
        tesel::CBlob aliceKey, bobKey;
        ASSERT_EQ(alice->getPublicKeyBlob(aliceKey), kOk);
        ASSERT_EQ(bob->getPublicKeyBlob(bobKey), kOk);
        Crypto2SideInfo toBob, fromAlice;
        ASSERT_EQ(alice->importPublicKey2Side(bobKey, toBob), kOk);
        ASSERT_EQ(bob->importPublicKey2Side(aliceKey, fromAlice), kOk);

        for (unsigned size : {0u, 1u, 1024u, 2049u}) {
            SCOPED_TRACE(size);
            Bytes text(size);
            for (unsigned i = 0; i < size; ++i) {
                text[i] = static_cast<unsigned char>(i * 7 + 3);
            }
            tesel::CBlob message, again, plain;
            ASSERT_EQ(alice->encryptMessage(blobOf(text), toBob, message), kOk);
            ASSERT_EQ(alice->encryptMessage(blobOf(text), toBob, again), kOk);
            EXPECT_FALSE(message == again);  // new session key, IV and UKM
            // u32 blob length, SIMPLEBLOB, u32 8, IV, cipher text.
            const unsigned n = le32(message, 0);
            ASSERT_EQ(message.getSize(), 4 + n + 4 + 8 + size);
            EXPECT_EQ(le32(message, 4 + n), 8u);
            ASSERT_EQ(bob->decryptMessage(message, fromAlice, plain), kOk);
            EXPECT_EQ(bytesOf(plain), text);
            EXPECT_EQ(plain.getOffset(), 0u);

            // A damaged key blob does not unwrap; a short message is refused.
            tesel::CBlob damaged = message;
            damaged[4 + 30] ^= 0x40;
            EXPECT_EQ(bob->decryptMessage(damaged, fromAlice, plain), static_cast<unsigned>(ERR_SESSION_KEY));
            tesel::CBlob cut(message.getData(), 4 + n + 6);
            EXPECT_EQ(bob->decryptMessage(cut, fromAlice, plain), static_cast<unsigned>(ERR_SESSION_KEY));
        }
        // Session and agreed keys go with their message: the token keeps
        // only the peer key object of each side.
        CK_FUNCTION_LIST_PTR f = functions(alice->getDeviceType());
        const CK_OBJECT_CLASS secret = CKO_SECRET_KEY;
        CK_ATTRIBUTE t{CKA_CLASS, const_cast<CK_OBJECT_CLASS*>(&secret), sizeof secret};
        CK_OBJECT_HANDLE handles[4];
        CK_ULONG count = 99;
        const CK_SESSION_HANDLE s = static_cast<CK_SESSION_HANDLE>(alice->getProviderHandle());
        ASSERT_EQ(f->C_FindObjectsInit(s, &t, 1), CKR_OK);
        ASSERT_EQ(f->C_FindObjects(s, handles, 4, &count), CKR_OK);
        f->C_FindObjectsFinal(s);
        EXPECT_EQ(count, 0u);
        reset();
    }
}

TEST_F(CryptoP11Test, WrappedKeysWithAndWithoutUkmGiveOneSimpleBlobLayout) {
    // JaCarta returns 44 bytes (UKM first), Rutoken 36.
    std::map<eSupportCP, tesel::CBlob> blobs;
    for (eSupportCP kind : {CP_JACARTA_GOST2012_256, CP_RUTOKEN_GOST2012_256}) {
        unsigned r = 0;
        auto p = create("w", kind, r);
        ASSERT_EQ(r, kOk);
        tesel::CBlob own;
        ASSERT_EQ(p->getPublicKeyBlob(own), kOk);
        CryptoHandle key = 0;
        tesel::CBlob iv;
        ASSERT_EQ(p->createSessionKey(key, iv), kOk);
        EXPECT_EQ(iv.getSize(), 8u);
        const tesel::CBlob ukm = blobOf({1, 2, 3, 4, 5, 6, 7, 8});
        CK_OBJECT_HANDLE agreed = 0;
        ASSERT_EQ(p->createAgreeKey(own, ukm, agreed), kOk);
        ASSERT_NE(agreed, 0u);
        tesel::CBlob blob;
        ASSERT_EQ(p->exportSessionKey(static_cast<CK_OBJECT_HANDLE>(key), agreed, ukm, blob), kOk);
        blobs[kind] = blob;
        // And the token takes it back.
        tesel::CBlob message(4 + blob.getSize() + 4 + 8);
        message.serialize(&blob);
        message.serialize(&iv);
        CK_OBJECT_HANDLE back = 0;
        tesel::CBlob backIv;
        unsigned offset = 0;
        ASSERT_EQ(p->importSessionKey(message, offset, own, back, backIv), kOk);
        EXPECT_EQ(offset, blob.getSize() + 16);
        EXPECT_EQ(backIv, iv);
    }
    const tesel::CBlob& a = blobs[CP_JACARTA_GOST2012_256];
    const tesel::CBlob& b = blobs[CP_RUTOKEN_GOST2012_256];
    ASSERT_EQ(a.getSize(), b.getSize());
    const tesel::CBlob cipherParams =
        tesel::C_ASN1::encode_ObjId(get_28147_ALG_OID(CP_JACARTA_GOST2012_256));
    EXPECT_EQ(a.getSize(), 60 + 2 + cipherParams.getSize());
    for (const tesel::CBlob* blob : {&a, &b}) {
        EXPECT_EQ(bytesOf(tesel::CBlob(blob->getData(), 24)),
                  (Bytes{0x01, 0x20, 0x00, 0x00, 0x1E, 0x66, 0x00, 0x00, 0xFD, 0x51, 0x4A, 0x37, 0x1E, 0x66, 0x00, 0x00,
                         1, 2, 3, 4, 5, 6, 7, 8}));
        EXPECT_EQ((*blob)[60], 0x30);
    }
}

TEST_F(CryptoP11Test, JaCartaEncryptsInPiecesRutokenInOneCall) {
    for (eSupportCP kind : {CP_JACARTA_GOST, CP_RUTOKEN_GOST}) {
        unsigned r = 0;
        auto p = create("pieces", kind, r);
        ASSERT_EQ(r, kOk);
        CryptoHandle key = 0;
        tesel::CBlob iv;
        ASSERT_EQ(p->createSessionKey(key, iv), kOk);
        const tesel::CBlob plain = blobOf(Bytes(2049, 0x5A));
        tesel::CBlob cipher, back;
        CallCounter calls(p->getDeviceType());
        ASSERT_EQ(p->encrypt(plain, key, iv, cipher), kOk);
        ASSERT_EQ(p->decrypt(cipher, key, iv, back), kOk);
        EXPECT_EQ(back, plain);
        EXPECT_FALSE(cipher == plain);
        if (kind == CP_JACARTA_GOST) {
            EXPECT_EQ(calls.encryptUpdates, (std::vector<CK_ULONG>{1024, 1024, 1}));
            EXPECT_EQ(calls.decryptUpdates, (std::vector<CK_ULONG>{1024, 1024, 1}));
            EXPECT_EQ(calls.encryptFinals, 1);
            EXPECT_EQ(calls.decryptFinals, 1);
            EXPECT_EQ(calls.encryptCalls, 0);
        } else {
            EXPECT_TRUE(calls.encryptUpdates.empty());
            EXPECT_EQ(calls.encryptCalls, 1);
            EXPECT_EQ(calls.decryptCalls, 1);
        }
        // The IV must be 8 bytes.
        EXPECT_EQ(p->encrypt(plain, key, blobOf({1, 2}), cipher), static_cast<unsigned>(ERR_ENCRYPT));
        EXPECT_EQ(p->decrypt(cipher, key, tesel::CBlob(), back), static_cast<unsigned>(ERR_DECRYPT));
        reset();
    }
}

TEST_F(CryptoP11Test, DevicePinsSlotsAndModels) {
    unsigned r = 0;
    // Default PINs of both devices are accepted; a changed one gives 74.
    EXPECT_EQ(create("a", CP_RUTOKEN_GOST, r) ? r : 99u, kOk);
    EXPECT_EQ(create("a", CP_JACARTA_GOST, r) ? r : 99u, kOk);
    std::string changed = kDefaultConfig;
    changed.replace(changed.find("pin = 58203716"), 14, "pin = 11111111");
    reset(changed);
    {
        CryptoP11* raw = nullptr;
        EXPECT_EQ(CryptoP11::init(CP_RUTOKEN_GOST, &raw), static_cast<unsigned>(ERR_DEFAULT_PIN_REJECTED));
        delete raw;
    }
    // No token in the only slot: 75.
    reset("[slot]\nmodule = rutoken\ntoken = absent\n[slot]\nmodule = jacarta\nmodel = JaCarta GOST\n"
          "pin = 4719360825\n");
    {
        CryptoP11* raw = nullptr;
        EXPECT_EQ(CryptoP11::init(CP_RUTOKEN_GOST2012_256, &raw), static_cast<unsigned>(ERR_DEVICE_NOT_FOUND));
        delete raw;
        // A JaCarta whose model is not "JaCarta GOST 2.0": skipped for 2012
        // kinds, taken for -1.
        raw = nullptr;
        EXPECT_EQ(CryptoP11::init(CP_JACARTA_GOST2012_256, &raw), static_cast<unsigned>(ERR_DEVICE_NOT_FOUND));
        delete raw;
        raw = nullptr;
        EXPECT_EQ(CryptoP11::init(CP_JACARTA_GOST, &raw), kOk);
        delete raw;
    }
    // A JaCarta GOST 2.0 behind an older one is found.
    reset("[slot]\nmodule = jacarta\nmodel = JaCarta GOST\npin = 4719360825\n"
          "[slot]\nmodule = jacarta\nmodel = JaCarta GOST 2.0\nlabel = second\npin = 4719360825\n");
    {
        auto p = create("k", CP_JACARTA_GOST2012_256, r);
        ASSERT_EQ(r, kOk);
        UserCspInfo info;
        ASSERT_EQ(p->getCspInfo(info), kOk);
        EXPECT_EQ(info.getLabel().substr(0, 7), "second ");
    }
    // A kind outside the token kinds has no library.
    CryptoP11* raw = nullptr;
    EXPECT_EQ(CryptoP11::init(CP_CRYPTOPRO, &raw), static_cast<unsigned>(ERR_CRYPTO_LIBRARY_NOT_FOUND));
    delete raw;
}

TEST_F(CryptoP11Test, ProviderInformationIsTheTokensFields) {
    unsigned r = 0;
    auto p = create("info", CP_JACARTA_GOST2012_256, r);
    ASSERT_EQ(r, kOk);
    UserCspInfo info;
    ASSERT_EQ(p->getCspInfo(info), kOk);
    EXPECT_EQ(info.getCspType(), CP_JACARTA_GOST2012_256);
    EXPECT_EQ(info.getCspVersion(), "2.1.3.4");
    EXPECT_EQ(info.getLabel(), "Test JaCarta" + std::string(20, ' '));
    EXPECT_EQ(info.getManufacturer(), "Pellamo Tests" + std::string(19, ' '));
    EXPECT_EQ(info.getModel(), "JaCarta GOST 2.0");
    EXPECT_EQ(info.getSerialNumber(), "00000000000000J1");
    std::string version = "unchanged";
    EXPECT_EQ(p->getCspVersion(version), kOk);
    EXPECT_EQ(version, "unchanged");
    std::vector<std::string> names, full;
    EXPECT_EQ(p->getContainersAllList(names, full), kOk);
    EXPECT_TRUE(names.empty() && full.empty());
    // After release the session is closed.
    EXPECT_EQ(p->release(), kOk);
    EXPECT_FALSE(p->isValid());
    EXPECT_EQ(p->getCspInfo(info), static_cast<unsigned>(ERR_CSP_NOT_INITIALIZED));
}

TEST_F(CryptoP11Test, ContainersByLabel) {
    unsigned r = 0;
    // Two key pairs under one label: the container is ambiguous.
    {
        auto a = create("twin", CP_RUTOKEN_GOST, r);
        ASSERT_EQ(r, kOk);
        auto b = create("twin", CP_RUTOKEN_GOST, r);
        ASSERT_EQ(r, kOk);
    }
    open("twin", CP_RUTOKEN_GOST, r);
    EXPECT_EQ(r, static_cast<unsigned>(ERR_MORE_THAN_ONE_KEY_PAIR));
    open("nobody", CP_RUTOKEN_GOST, r);
    EXPECT_EQ(r, static_cast<unsigned>(ERR_KEY_PAIR_NOT_FOUND));

    // At most ten containers are listed; a non-empty list is left alone.
    for (int i = 0; i < 11; ++i) {
        create("c" + std::to_string(i), CP_JACARTA_GOST, r);
        ASSERT_EQ(r, kOk);
    }
    auto p = open("c0", CP_JACARTA_GOST, r);
    ASSERT_EQ(r, kOk);
    std::vector<std::string> names;
    ASSERT_EQ(p->getContainersList(names), kOk);
    EXPECT_EQ(names.size(), 10u);
    std::vector<std::string> kept{"x"};
    ASSERT_EQ(p->getContainersList(kept), kOk);
    EXPECT_EQ(kept, std::vector<std::string>{"x"});

    // removeKeyPair deletes what carries the label; remove only a whole
    // container of three objects.
    EXPECT_EQ(p->removeKeyPair("c1"), kOk);
    open("c1", CP_JACARTA_GOST, r);
    EXPECT_EQ(r, static_cast<unsigned>(ERR_KEY_PAIR_NOT_FOUND));
    EXPECT_EQ(CryptoP11::remove("c2", CP_JACARTA_GOST), kOk);
    open("c2", CP_JACARTA_GOST, r);
    EXPECT_EQ(r, kOk);  // only two objects: kept
}

TEST_F(CryptoP11Test, CloneSharesTheSessionUntilTheLastHolderGoes) {
    unsigned r = 0;
    auto p = create("shared", CP_RUTOKEN_GOST2012_256, r);
    ASSERT_EQ(r, kOk);
    auto copy = p->clone();
    ASSERT_TRUE(copy);
    tesel::CBlob blob;
    ASSERT_EQ(p->getPublicKeyBlob(blob), kOk);
    p.reset();
    tesel::CBlob signedData;
    EXPECT_EQ(copy->signMessage(blobOf(textBytes("still open")), signedData), kOk);
    tesel::CBlob again;
    EXPECT_EQ(copy->getPublicKeyBlob(again), kOk);
    EXPECT_EQ(again, blob);
}

TEST_F(CryptoP11Test, ProvidersOfSeveralThreadsAndOneSharedSession) {
    unsigned r = 0;
    auto shared = create("threads", CP_RUTOKEN_GOST2012_256, r);
    ASSERT_EQ(r, kOk);
    tesel::CBlob blob;
    ASSERT_EQ(shared->getPublicKeyBlob(blob), kOk);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            // Half open providers of their own; half use clones of one
            // session, whose multi-call operations must not interleave.
            std::shared_ptr<CryptoProviderQn> p;
            if (t % 2) {
                CryptoP11* raw = nullptr;
                if (CryptoP11::init("threads", CP_RUTOKEN_GOST2012_256, &raw) != kOk) {
                    ++failures;
                }
                p.reset(raw);
            } else {
                p = shared->clone();
            }
            for (int i = 0; i < 10 && p; ++i) {
                tesel::CBlob signedData;
                Crypto2SideInfo self;
                if (p->signMessage(blobOf(Bytes(2000 + i, static_cast<unsigned char>(t))), signedData) != kOk ||
                    p->importPublicKey2Side(blob, self) != kOk ||
                    p->verifySignMessage(signedData, self.getPublicKey()) != kOk) {
                    ++failures;
                }
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(failures.load(), 0);
}
