// Whole protected messages between our connection and a peer that uses only
// OpenSSL with the GOST engine: key agreement, key wrap, CFB with meshing
// and the signature, in both directions.
#include <gtest/gtest.h>

#include "CspTestSupport.h"
#include "GostOracle.h"
#include "crypto/Crypto1By1Connect.h"

using namespace qn::crypto;
using namespace testutil;

namespace {

struct RoundCase {
    eSupportCP kind;
    oracle::Kind engineKind;
    const char* paramset;
    const char* digest;
    const char* sbox;
};

const RoundCase kRounds[] = {
    {CP_CRYPTOPRO, oracle::Kind::G2001, "A", "md_gost94", "1.2.643.2.2.31.1"},
    {CP_VIPNET_GOST2012_256, oracle::Kind::G2012_256, "XA", "md_gost12_256", "1.2.643.7.1.2.5.1.1"},
    {CP_CRYPTOPRO_GOST2012_512, oracle::Kind::G2012_512, "A", "md_gost12_512", "1.2.643.7.1.2.5.1.1"},
};

tesel::CBlob blobOf(const Bytes& b) { return tesel::CBlob(b.data(), static_cast<unsigned>(b.size())); }
Bytes bytesOfBlob(const tesel::CBlob& b) { return Bytes(b.getData(), b.getData() + b.getSize()); }

unsigned le32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<unsigned>(b[at + 3]) << 24);
}

void putLe32(Bytes& b, unsigned v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

Bytes publicBlobOf(oracle::Kind kind, const oracle::KeyPtr& key) {
    const Bytes params = oracle::spkiParams(key), raw = oracle::rawPublic(key);
    const unsigned alg = kind == oracle::Kind::G2001 ? 0x2E23 : kind == oracle::Kind::G2012_256 ? 0x2E49 : 0x2E3D;
    Bytes b = {0x06, 0x20, 0, 0};
    putLe32(b, alg);
    b.insert(b.end(), {'M', 'A', 'G', '1'});
    putLe32(b, static_cast<unsigned>(raw.size() * 8));
    b.insert(b.end(), params.begin(), params.end());
    b.insert(b.end(), raw.begin(), raw.end());
    return b;
}

class PacketRound : public CspDirTest, public ::testing::WithParamInterface<RoundCase> {
protected:
    void SetUp() override {
        CspDirTest::SetUp();
        ASSERT_TRUE(oracle::available());
        c = GetParam();
        Crypto1By1Connect* raw = nullptr;
        ASSERT_EQ(Crypto1By1Connect::create("packets", c.kind, &raw), 0u);
        me.reset(raw);
        peer = oracle::generate(c.engineKind, c.paramset);
        ASSERT_EQ(me->importPublicKey2Side(blobOf(publicBlobOf(c.engineKind, peer))), 0u);
        tesel::CBlob own;
        ASSERT_EQ(me->getPublicKey(own), 0u);
        const Bytes b = bytesOfBlob(own);
        const std::size_t seq = 2 + b[17];
        meForEngine = oracle::publicKey(c.engineKind, Bytes(b.begin() + 16, b.begin() + 16 + static_cast<long>(seq)),
                                        Bytes(b.begin() + 16 + static_cast<long>(seq), b.end()));
    }
    RoundCase c{};
    std::unique_ptr<Crypto1By1Connect> me;
    oracle::KeyPtr peer;
    oracle::KeyPtr meForEngine;
};

}  // namespace

TEST_P(PacketRound, OurMessageOpensWithOpenSslAlone) {
    Bytes text(3333);
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<unsigned char>(i * 31 + 7);
    tesel::CBlob message, signedMessage;
    ASSERT_EQ(me->encryptMessage(blobOf(text), message), 0u);
    ASSERT_EQ(me->signMessage(message, signedMessage), 0u);

    const Bytes m = bytesOfBlob(signedMessage);
    const std::size_t sigSize = me->getSzSign();
    const Bytes body(m.begin(), m.end() - static_cast<long>(sigSize));
    const Bytes sig(m.end() - static_cast<long>(sigSize), m.end());
    EXPECT_TRUE(oracle::verifyDigest(meForEngine, oracle::digest(c.digest, body), reversed(sig)));

    const unsigned n = le32(body, 0);
    const Bytes blob(body.begin() + 4, body.begin() + 4 + n);
    ASSERT_EQ(le32(body, 4 + n), 8u);
    const Bytes iv(body.begin() + 8 + n, body.begin() + 16 + n);
    const Bytes cipher(body.begin() + 16 + n, body.end());
    const Bytes ukm(blob.begin() + 16, blob.begin() + 24), enc(blob.begin() + 24, blob.begin() + 56),
        mac(blob.begin() + 56, blob.begin() + 60);
    const Bytes cek = oracle::transportDecrypt(peer, meForEngine, oracle::transportDer(enc, mac, c.sbox, ukm));
    ASSERT_EQ(cek.size(), 32u);
    EXPECT_EQ(oracle::cfb(cek, iv, c.sbox, cipher, false), text);
}

TEST_P(PacketRound, OpenSslMessageOpensHere) {
    const Bytes text = bytesOf(std::string(2500, 'q') + " end of the text from the engine");
    const Bytes cek = fromHex("c0c1c2c3c4c5c6c7c8c9cacbcccdcecfd0d1d2d3d4d5d6d7d8d9dadbdcdddedf");
    const Bytes iv = fromHex("1122334455667788"), ukm = fromHex("8877665544332211");
    Bytes enc, mac, gotUkm;
    ASSERT_TRUE(oracle::transportParts(oracle::transportEncrypt(meForEngine, peer, ukm, cek), enc, mac, gotUkm));
    Bytes blob = {0x01, 0x20, 0, 0, 0x1E, 0x66, 0, 0, 0xFD, 0x51, 0x4A, 0x37, 0x1E, 0x66, 0, 0};
    blob.insert(blob.end(), ukm.begin(), ukm.end());
    blob.insert(blob.end(), enc.begin(), enc.end());
    blob.insert(blob.end(), mac.begin(), mac.end());
    const Bytes params = std::string(c.sbox) == "1.2.643.2.2.31.1" ? fromHex("300906072a850302021f01")
                                                                    : fromHex("300b06092a8503070102050101");
    blob.insert(blob.end(), params.begin(), params.end());
    Bytes message;
    putLe32(message, static_cast<unsigned>(blob.size()));
    message.insert(message.end(), blob.begin(), blob.end());
    putLe32(message, 8);
    message.insert(message.end(), iv.begin(), iv.end());
    const Bytes cipher = oracle::cfb(cek, iv, c.sbox, text, true);
    message.insert(message.end(), cipher.begin(), cipher.end());
    Bytes signedMessage = message;
    const Bytes sig = reversed(oracle::signDigest(peer, oracle::digest(c.digest, message)));
    signedMessage.insert(signedMessage.end(), sig.begin(), sig.end());

    EXPECT_EQ(me->verifySignMessage(blobOf(signedMessage)), 0u);
    tesel::CBlob plain;
    ASSERT_EQ(me->decryptMessage(blobOf(message), plain), 0u);
    EXPECT_EQ(bytesOfBlob(plain), text);
}

INSTANTIATE_TEST_SUITE_P(AllClasses, PacketRound, ::testing::ValuesIn(kRounds),
                         [](const ::testing::TestParamInfo<RoundCase>& i) {
                             return "Kind" + std::to_string(i.param.kind);
                         });
