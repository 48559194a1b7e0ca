// The software token's cryptography against independent implementations:
// OpenSSL's GOST engine for signatures and VKO, and the software CSP behind
// the CryptoAPI provider for whole messages in both directions.
#include "GostOracle.h"
#include "TokenTestSupport.h"
#include "crypto/CspAlgorithms.h"

using namespace qn::crypto;
using namespace tokentest;

namespace {

const unsigned kOk = ERR_OK;

struct KindCase {
    eSupportCP token;
    eSupportCP csp;
    oracle::Kind oracleKind;
    const char* digest;
};

const KindCase kCases[] = {
    {CP_RUTOKEN_GOST, CP_CRYPTOPRO, oracle::Kind::G2001, "md_gost94"},
    {CP_JACARTA_GOST2012_256, CP_CRYPTOPRO_GOST2012_256, oracle::Kind::G2012_256, "md_gost12_256"},
    {CP_RUTOKEN_GOST2012_512, CP_CRYPTOPRO_GOST2012_512, oracle::Kind::G2012_512, "md_gost12_512"},
};

oracle::KeyPtr oracleKeyOf(const tesel::CBlob& blob, const KindCase& c) {
    const unsigned keyBytes = getPubKeySize(c.token) / 8;
    const Bytes all = bytesOf(blob);
    return oracle::publicKey(c.oracleKind, Bytes(all.begin() + 16, all.end() - keyBytes),
                             Bytes(all.end() - keyBytes, all.end()));
}

// The engine's name of the parameter set of the kind's keys.
const char* paramsetOf(const KindCase& c) {
    return c.oracleKind == oracle::Kind::G2012_256 ? "XA" : "A";
}

Bytes reversed(Bytes b) {
    std::reverse(b.begin(), b.end());
    return b;
}

}  // namespace

class TokenOracleTest : public TokenTest {};

TEST_F(TokenOracleTest, TokenSignaturesVerifyWithTheEngine) {
    ASSERT_TRUE(oracle::available());
    for (const KindCase& c : kCases) {
        SCOPED_TRACE(c.token);
        unsigned r = 0;
        auto p = create("signer", c.token, r);
        ASSERT_EQ(r, kOk);
        tesel::CBlob blob;
        ASSERT_EQ(p->getPublicKeyBlob(blob), kOk);
        const oracle::KeyPtr pub = oracleKeyOf(blob, c);
        ASSERT_TRUE(pub);
        const Bytes data = textBytes("a packet for the engine to check");
        tesel::CBlob signedData;
        ASSERT_EQ(p->signMessage(blobOf(data), signedData), kOk);
        const unsigned sz = getSignSize(c.token);
        const Bytes all = bytesOf(signedData);
        // CryptoAPI order reversed is the standard BE(s) || BE(r).
        const Bytes sig = reversed(Bytes(all.end() - sz, all.end()));
        EXPECT_TRUE(oracle::verifyDigest(pub, oracle::digest(c.digest, data), sig));
        Bytes other = data;
        other[0] ^= 1;
        EXPECT_FALSE(oracle::verifyDigest(pub, oracle::digest(c.digest, other), sig));
    }
}

TEST_F(TokenOracleTest, EngineSignaturesVerifyOnTheToken) {
    for (const KindCase& c : kCases) {
        SCOPED_TRACE(c.token);
        unsigned r = 0;
        auto p = create("verifier", c.token, r);
        ASSERT_EQ(r, kOk);
        const oracle::KeyPtr key = oracle::generate(c.oracleKind, paramsetOf(c));
        const Bytes params = oracle::spkiParams(key);
        const Bytes raw = oracle::rawPublic(key);
        // The engine key as a PUBLICKEYBLOB for the token.
        tesel::CBlob peer(16 + static_cast<unsigned>(params.size() + raw.size()));
        const unsigned char head[4] = {0x06, 0x20, 0, 0};
        peer.serialize(head, 4);
        peer.serialize(static_cast<unsigned>(getPubKeyAlgId(c.token)));
        peer.serialize("MAG1", 4);
        peer.serialize(getPubKeySize(c.token));
        peer.serialize(params.data(), static_cast<unsigned>(params.size()));
        peer.serialize(raw.data(), static_cast<unsigned>(raw.size()));
        Crypto2SideInfo side;
        ASSERT_EQ(p->importPublicKey2Side(peer, side), kOk);
        const Bytes data = textBytes("signed by the engine");
        Bytes signedData = data;
        const Bytes sig = reversed(oracle::signDigest(key, oracle::digest(c.digest, data)));
        signedData.insert(signedData.end(), sig.begin(), sig.end());
        EXPECT_EQ(p->verifySignMessage(blobOf(signedData), side.getPublicKey()), kOk);
        signedData[3] ^= 0x10;
        EXPECT_EQ(p->verifySignMessage(blobOf(signedData), side.getPublicKey()),
                  static_cast<unsigned>(ERR_PACKET_INTEGRITY));
    }
}

TEST_F(TokenOracleTest, AgreedKeyIsTheEnginesVko) {
    for (const KindCase& c : kCases) {
        SCOPED_TRACE(c.token);
        unsigned r = 0;
        auto p = create("agree", c.token, r);
        ASSERT_EQ(r, kOk);
        tesel::CBlob blob;
        ASSERT_EQ(p->getPublicKeyBlob(blob), kOk);
        // The engine's peer on the token key's curve.
        const oracle::KeyPtr peer = oracle::generate(c.oracleKind, paramsetOf(c));
        const Bytes peerRaw = oracle::rawPublic(peer);
        const Bytes ukm = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x08};
        const Bytes expected = oracle::derive(peer, oracleKeyOf(blob, c), ukm);
        ASSERT_EQ(expected.size(), 32u);

        // CKD_NULL: the VKO itself, read back from an extractable key.
        CK_FUNCTION_LIST_PTR f = functions(p->getDeviceType());
        const CK_SESSION_HANDLE s = static_cast<CK_SESSION_HANDLE>(p->getProviderHandle());
        CK_GOSTR3410_DERIVE_PARAMS p2001{CKD_NULL, const_cast<unsigned char*>(peerRaw.data()), peerRaw.size(),
                                         const_cast<unsigned char*>(ukm.data()), 8};
        Bytes p2012(16 + peerRaw.size());
        pkcs11gost::writeLe32(p2012.data(), CKD_NULL);
        pkcs11gost::writeLe32(p2012.data() + 4, static_cast<std::uint32_t>(peerRaw.size()));
        std::copy(peerRaw.begin(), peerRaw.end(), p2012.begin() + 8);
        pkcs11gost::writeLe32(p2012.data() + 8 + peerRaw.size(), 8);
        std::copy(ukm.begin(), ukm.end(), p2012.begin() + 12 + peerRaw.size());
        CK_MECHANISM m = getGostCrypto(c.token) == GOST_2001
                             ? CK_MECHANISM{CKM_GOSTR3410_DERIVE, &p2001, sizeof p2001}
                             : CK_MECHANISM{CKM_GOSTR3410_12_DERIVE, p2012.data(), p2012.size()};
        CK_BBOOL no = CK_FALSE, yes = CK_TRUE;
        CK_ATTRIBUTE t[] = {{CKA_SENSITIVE, &no, 1}, {CKA_EXTRACTABLE, &yes, 1}};
        CK_OBJECT_HANDLE key = 0;
        ASSERT_EQ(f->C_DeriveKey(s, &m, p->getPrivateKeyHandle(), t, 2, &key), CKR_OK);
        Bytes value(32);
        CK_ATTRIBUTE v{CKA_VALUE, value.data(), 32};
        ASSERT_EQ(f->C_GetAttributeValue(s, key, &v, 1), CKR_OK);
        EXPECT_EQ(value, expected);

        // A point that is not on the curve is refused.
        Bytes bad = p2012;
        bad[9] ^= 0x01;
        CK_MECHANISM badM{CKM_GOSTR3410_12_DERIVE, bad.data(), bad.size()};
        if (getGostCrypto(c.token) == GOST_2012) {
            EXPECT_NE(f->C_DeriveKey(s, &badM, p->getPrivateKeyHandle(), t, 2, &key), CKR_OK);
        }
    }
}

TEST_F(TokenOracleTest, MessagesCrossBetweenTokenAndSoftwareCsp) {
    for (const KindCase& c : kCases) {
        SCOPED_TRACE(c.token);
        unsigned r = 0;
        auto token = create("tok", c.token, r);
        ASSERT_EQ(r, kOk);
        Crypto1By1Connect* rawCsp = nullptr;
        r = Crypto1By1Connect::create("csp-" + std::to_string(c.csp), c.csp, &rawCsp);
        std::unique_ptr<Crypto1By1Connect> csp(rawCsp);
        ASSERT_EQ(r, kOk);
        tesel::CBlob tokenKey, cspKey;
        ASSERT_EQ(token->getPublicKeyBlob(tokenKey), kOk);
        ASSERT_EQ(csp->getPublicKey(cspKey), kOk);
        Crypto2SideInfo toCsp;
        ASSERT_EQ(token->importPublicKey2Side(cspKey, toCsp), kOk);
        ASSERT_EQ(csp->importPublicKey2Side(tokenKey), kOk);

        Bytes text(3000);
        for (std::size_t i = 0; i < text.size(); ++i) {
            text[i] = static_cast<unsigned char>(i % 251);
        }
        // Token -> CSP: the key wrapped on the token unwraps in the CSP.
        tesel::CBlob message, plain;
        ASSERT_EQ(token->encryptMessage(blobOf(text), toCsp, message), kOk);
        ASSERT_EQ(csp->decryptMessage(message, plain), kOk);
        EXPECT_EQ(bytesOf(plain), text);
        // CSP -> token.
        ASSERT_EQ(csp->encryptMessage(blobOf(text), message), kOk);
        ASSERT_EQ(token->decryptMessage(message, toCsp, plain), kOk);
        EXPECT_EQ(bytesOf(plain), text);

        // Signatures both ways.
        tesel::CBlob signedData;
        ASSERT_EQ(token->signMessage(blobOf(text), signedData), kOk);
        EXPECT_EQ(csp->verifySignMessage(signedData), kOk);
        ASSERT_EQ(csp->signMessage(blobOf(text), signedData), kOk);
        EXPECT_EQ(token->verifySignMessage(signedData, toCsp.getPublicKey()), kOk);
        reset();
    }
}
