// The software GOST provider against an implementation we did not write:
// OpenSSL with the GOST engine. Signatures, agreed keys, key wrap and CFB
// with key meshing must agree byte for byte in both directions.
#include <gtest/gtest.h>

#include "CspTestSupport.h"
#include "GostOracle.h"
#include "softgost/provider/CspObjects.h"
#include "softgost/gost/GostEc.h"

using namespace testutil;

namespace {

struct ClassCase {
    DWORD provType;
    oracle::Kind kind;
    const char* paramset;  // engine name of the signature parameter set
    ALG_ID hashAlg;
    const char* engineDigest;
    const char* sbox;
};

const ClassCase kCases[] = {
    {75, oracle::Kind::G2001, "A", CALG_GR3411, "md_gost94", "1.2.643.2.2.31.1"},
    {80, oracle::Kind::G2012_256, "XA", CALG_GR3411_2012_256, "md_gost12_256", "1.2.643.7.1.2.5.1.1"},
    {81, oracle::Kind::G2012_512, "A", CALG_GR3411_2012_512, "md_gost12_512", "1.2.643.7.1.2.5.1.1"},
};

unsigned aiKeyAlgOf(oracle::Kind k) {
    return k == oracle::Kind::G2001 ? 0x2E23 : k == oracle::Kind::G2012_256 ? 0x2E49 : 0x2E3D;
}

// PUBLICKEYBLOB of an engine key.
Bytes blobOf(oracle::Kind kind, const oracle::KeyPtr& key) {
    const Bytes params = oracle::spkiParams(key);
    const Bytes raw = oracle::rawPublic(key);
    const unsigned alg = aiKeyAlgOf(kind);
    const unsigned bits = static_cast<unsigned>(raw.size() * 8);
    Bytes b = {0x06, 0x20, 0, 0, static_cast<unsigned char>(alg), static_cast<unsigned char>(alg >> 8), 0, 0,
               'M', 'A', 'G', '1', static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8), 0, 0};
    b.insert(b.end(), params.begin(), params.end());
    b.insert(b.end(), raw.begin(), raw.end());
    return b;
}

// Engine public key of one of our PUBLICKEYBLOBs.
oracle::KeyPtr engineKeyOf(oracle::Kind kind, const Bytes& blob) {
    const std::size_t seqLen = 2 + blob[17];
    const Bytes params(blob.begin() + 16, blob.begin() + 16 + static_cast<long>(seqLen));
    const Bytes raw(blob.begin() + 16 + static_cast<long>(seqLen), blob.end());
    return oracle::publicKey(kind, params, raw);
}

Bytes simpleBlob(const Bytes& ukm, const Bytes& enc, const Bytes& mac, const std::string& sbox) {
    Bytes b = {0x01, 0x20, 0, 0, 0x1E, 0x66, 0, 0, 0xFD, 0x51, 0x4A, 0x37, 0x1E, 0x66, 0, 0};
    b.insert(b.end(), ukm.begin(), ukm.end());
    b.insert(b.end(), enc.begin(), enc.end());
    b.insert(b.end(), mac.begin(), mac.end());
    const Bytes oid = sbox == "1.2.643.2.2.31.1" ? fromHex("06072a850302021f01") : fromHex("06092a8503070102050101");
    b.push_back(0x30);
    b.push_back(static_cast<unsigned char>(oid.size()));
    b.insert(b.end(), oid.begin(), oid.end());
    return b;
}

Bytes encryptPieces(HCRYPTKEY key, Bytes data, std::size_t piece) {
    std::size_t off = 0;
    do {
        const std::size_t n = std::min(piece, data.size() - off);
        DWORD len = static_cast<DWORD>(n);
        const BOOL final = off + n == data.size();
        EXPECT_TRUE(CryptEncrypt(key, 0, final, 0, data.data() + off, &len, static_cast<DWORD>(n)));
        off += n;
    } while (off < data.size());
    return data;
}

class CspOracle : public CspDirTest, public ::testing::WithParamInterface<ClassCase> {
protected:
    void SetUp() override {
        CspDirTest::SetUp();
        ASSERT_TRUE(oracle::available()) << "the GOST engine of OpenSSL is required";
        c = GetParam();
        prov = newContainer("oracle", c.provType);
        ASSERT_NE(prov, 0u);
        ourBlob = userPublicBlob(prov);
        ASSERT_FALSE(ourBlob.empty());
        ourEngineKey = engineKeyOf(c.kind, ourBlob);
        peer = oracle::generate(c.kind, c.paramset);
    }
    void TearDown() override {
        CryptReleaseContext(prov, 0);
        CspDirTest::TearDown();
    }
    ClassCase c{};
    HCRYPTPROV prov = 0;
    Bytes ourBlob;
    oracle::KeyPtr ourEngineKey;
    oracle::KeyPtr peer;
};

}  // namespace

TEST_P(CspOracle, DigestsAgree) {
    Bytes data(3000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7 + 1);
    EXPECT_EQ(hashOf(prov, c.hashAlg, data), oracle::digest(c.engineDigest, data));
}

TEST_P(CspOracle, OurSignatureVerifiesInEngine) {
    const Bytes data = bytesOf("signed by the software provider");
    const Bytes sig = signData(prov, c.hashAlg, data);
    ASSERT_EQ(sig.size(), c.kind == oracle::Kind::G2012_512 ? 128u : 64u);
    const Bytes digest = hashOf(prov, c.hashAlg, data);
    EXPECT_TRUE(oracle::verifyDigest(ourEngineKey, digest, reversed(sig)));
    Bytes bad = sig;
    bad[3] ^= 0x40;
    EXPECT_FALSE(oracle::verifyDigest(ourEngineKey, digest, reversed(bad)));
}

TEST_P(CspOracle, EngineSignatureVerifiesHere) {
    const Bytes data = bytesOf("signed by the engine");
    const Bytes digest = hashOf(prov, c.hashAlg, data);
    const Bytes sig = reversed(oracle::signDigest(peer, digest));
    const Bytes blob = blobOf(c.kind, peer);
    HCRYPTKEY pub = 0;
    ASSERT_TRUE(CryptImportKey(prov, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &pub));
    HCRYPTHASH h = 0;
    ASSERT_TRUE(CryptCreateHash(prov, c.hashAlg, 0, 0, &h));
    ASSERT_TRUE(CryptHashData(h, data.data(), static_cast<DWORD>(data.size()), 0));
    EXPECT_TRUE(CryptVerifySignatureA(h, sig.data(), static_cast<DWORD>(sig.size()), pub, nullptr, 0));
    CryptDestroyHash(h);
    Bytes bad = sig;
    bad.back() ^= 1;
    ASSERT_TRUE(CryptCreateHash(prov, c.hashAlg, 0, 0, &h));
    ASSERT_TRUE(CryptHashData(h, data.data(), static_cast<DWORD>(data.size()), 0));
    EXPECT_FALSE(CryptVerifySignatureA(h, bad.data(), static_cast<DWORD>(bad.size()), pub, nullptr, 0));
    EXPECT_EQ(GetLastError(), NTE_BAD_SIGNATURE);
    CryptDestroyHash(h);
    CryptDestroyKey(pub);
}

// The static part of an agreement is computed once and each UKM multiplied
// in after: every UKM must still give the engine's KEK (short and full-width
// UKMs, the top bit set), and a zero UKM counts as one.
TEST_P(CspOracle, VkoAgrees) {
    std::shared_ptr<plcsp::KeyPair> pair;
    ASSERT_EQ(plcsp::loadKeyPair("oracle", pair), 0u);
    const Bytes peerRaw = oracle::rawPublic(peer);
    const int hash = c.kind == oracle::Kind::G2001 ? GCRY_MD_GOSTR3411_CP : GCRY_MD_STRIBOG256;
    plcsp::SecureBytes staticRaw;
    ASSERT_TRUE(plcsp::ecVkoStatic(*pair->curve, pair->d.get(), peerRaw.data(), staticRaw));
    for (const char* hex : {"0102030405060708", "0100000000000000", "ffffffffffffffff", "00000000000000f0"}) {
        const Bytes ukm = fromHex(hex);
        unsigned char kek[32], split[32];
        ASSERT_TRUE(plcsp::ecVko(*pair->curve, pair->d.get(), peerRaw.data(), ukm.data(), hash, kek));
        EXPECT_EQ(Bytes(kek, kek + 32), oracle::derive(peer, ourEngineKey, ukm)) << hex;
        ASSERT_TRUE(plcsp::ecVkoWithStatic(*pair->curve, staticRaw.data(), ukm.data(), hash, split));
        EXPECT_EQ(Bytes(split, split + 32), Bytes(kek, kek + 32)) << hex;
    }
    unsigned char zero[32], one[32];
    ASSERT_TRUE(plcsp::ecVko(*pair->curve, pair->d.get(), peerRaw.data(), fromHex("0000000000000000").data(), hash, zero));
    ASSERT_TRUE(plcsp::ecVko(*pair->curve, pair->d.get(), peerRaw.data(), fromHex("0100000000000000").data(), hash, one));
    EXPECT_EQ(Bytes(zero, zero + 32), Bytes(one, one + 32));
}

TEST_P(CspOracle, OurKeyWrapOpensInEngine) {
    const Bytes peerBlob = blobOf(c.kind, peer);
    HCRYPTKEY user = 0, agree = 0, session = 0;
    ASSERT_TRUE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &user));
    ASSERT_TRUE(CryptImportKey(prov, peerBlob.data(), static_cast<DWORD>(peerBlob.size()), user, 0, &agree));
    ASSERT_TRUE(CryptGenKey(prov, CALG_G28147, CRYPT_EXPORTABLE, &session));
    DWORD n = 0;
    ASSERT_TRUE(CryptExportKey(session, agree, SIMPLEBLOB, 0, nullptr, &n));
    Bytes blob(n);
    ASSERT_TRUE(CryptExportKey(session, agree, SIMPLEBLOB, 0, blob.data(), &n));
    ASSERT_EQ(n, 60u + 2 + (c.kind == oracle::Kind::G2001 ? 9 : 11));
    const Bytes ukm(blob.begin() + 16, blob.begin() + 24);
    const Bytes enc(blob.begin() + 24, blob.begin() + 56);
    const Bytes mac(blob.begin() + 56, blob.begin() + 60);
    const Bytes cek = oracle::transportDecrypt(peer, ourEngineKey, oracle::transportDer(enc, mac, c.sbox, ukm));
    ASSERT_EQ(cek.size(), 32u) << "the engine rejected our wrapped key";

    // The unwrapped key is the session key: both encrypt alike (over the
    // 1024-byte meshing boundary).
    Bytes iv(8);
    DWORD ivLen = 8;
    ASSERT_TRUE(CryptGetKeyParam(session, KP_IV, iv.data(), &ivLen, 0));
    Bytes plain(2500);
    for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<unsigned char>(i);
    EXPECT_EQ(encryptPieces(session, plain, 1024), oracle::cfb(cek, iv, c.sbox, plain, true));

    // A second key wrapped under the same agreement (its static part now
    // kept by the key pair) opens as well.
    HCRYPTKEY second = 0;
    ASSERT_TRUE(CryptGenKey(prov, CALG_G28147, CRYPT_EXPORTABLE, &second));
    Bytes ukm2 = fromHex("8877665544332211");
    ASSERT_TRUE(CryptSetKeyParam(agree, KP_IV, ukm2.data(), 0));
    Bytes blob2(n);
    ASSERT_TRUE(CryptExportKey(second, agree, SIMPLEBLOB, 0, blob2.data(), &n));
    ASSERT_EQ(Bytes(blob2.begin() + 16, blob2.begin() + 24), ukm2);
    EXPECT_EQ(oracle::transportDecrypt(peer, ourEngineKey,
                                       oracle::transportDer(Bytes(blob2.begin() + 24, blob2.begin() + 56),
                                                            Bytes(blob2.begin() + 56, blob2.begin() + 60), c.sbox, ukm2))
                  .size(),
              32u);
    CryptDestroyKey(second);

    // A damaged MAC is refused by the engine too.
    Bytes badMac = mac;
    badMac[0] ^= 1;
    EXPECT_TRUE(oracle::transportDecrypt(peer, ourEngineKey, oracle::transportDer(enc, badMac, c.sbox, ukm)).empty());
    CryptDestroyKey(session);
    CryptDestroyKey(agree);
    CryptDestroyKey(user);
}

TEST_P(CspOracle, EngineKeyWrapOpensHere) {
    const Bytes ukm = fromHex("a1b2c3d4e5f60718");
    Bytes cek(32);
    for (int i = 0; i < 32; ++i) cek[static_cast<std::size_t>(i)] = static_cast<unsigned char>(0x40 + i);
    const Bytes der = oracle::transportEncrypt(ourEngineKey, peer, ukm, cek);
    Bytes enc, mac, gotUkm;
    ASSERT_TRUE(oracle::transportParts(der, enc, mac, gotUkm));
    ASSERT_EQ(gotUkm, ukm);

    const Bytes peerBlob = blobOf(c.kind, peer);
    HCRYPTKEY user = 0, agree = 0, session = 0;
    ASSERT_TRUE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &user));
    ASSERT_TRUE(CryptImportKey(prov, peerBlob.data(), static_cast<DWORD>(peerBlob.size()), user, 0, &agree));
    const Bytes blob = simpleBlob(ukm, enc, mac, c.sbox);
    ASSERT_TRUE(CryptImportKey(prov, blob.data(), static_cast<DWORD>(blob.size()), agree, 0, &session));
    const Bytes iv = fromHex("0011223344556677");
    ASSERT_TRUE(CryptSetKeyParam(session, KP_IV, iv.data(), 0));
    Bytes plain(3000, 0x5A);
    const Bytes engineCipher = oracle::cfb(cek, iv, c.sbox, plain, true);
    EXPECT_EQ(encryptPieces(session, plain, 1024), engineCipher);
    // And decryption in pieces gives the plain text back.
    Bytes back = engineCipher;
    for (std::size_t off = 0; off < back.size(); off += 1024) {
        DWORD len = static_cast<DWORD>(std::min<std::size_t>(1024, back.size() - off));
        ASSERT_TRUE(CryptDecrypt(session, 0, off + len == back.size(), 0, back.data() + off, &len));
    }
    EXPECT_EQ(back, plain);
    CryptDestroyKey(session);

    // A wrong MAC, or a key for somebody else, does not unwrap.
    Bytes bad = blob;
    bad[57] ^= 0x10;
    EXPECT_FALSE(CryptImportKey(prov, bad.data(), static_cast<DWORD>(bad.size()), agree, 0, &session));
    EXPECT_EQ(GetLastError(), NTE_BAD_DATA);
    bad = blob;
    bad[30] ^= 0x10;
    EXPECT_FALSE(CryptImportKey(prov, bad.data(), static_cast<DWORD>(bad.size()), agree, 0, &session));
    CryptDestroyKey(agree);
    CryptDestroyKey(user);
}

INSTANTIATE_TEST_SUITE_P(AllClasses, CspOracle, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ClassCase>& i) {
                             return "Type" + std::to_string(i.param.provType);
                         });
