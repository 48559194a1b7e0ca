// Protected packets between two keys of the software provider: layout of the
// header, the signature size of each key class, tampering and truncation,
// the opening of CA answers, and the operations that find their key through
// the CA-side key store.
#include <gtest/gtest.h>

#include "PacketTestSupport.h"
#include "crypto/CACertStore.h"
#include "crypto/CspAlgorithms.h"
#include "errors/eErrCodes.h"
#include "transport/CPacketOutRequest.h"
#include "transport/PacketProtection.h"
#include "transport/common/TransportHeader.h"

using namespace packets_test;
using qn::crypto::CACertStore;
using qn::crypto::CP_CRYPTOPRO;
using qn::crypto::CP_CRYPTOPRO_GOST2012_256;
using qn::crypto::CP_CRYPTOPRO_GOST2012_512;
using qn::http_transport::KeyExchangeHeader;
namespace ht = qn::http_transport;

namespace {

struct KindCase {
    eSupportCP kind;
    unsigned format;
    unsigned sigSize;
};

class Protection : public testutil::CspDirTest, public ::testing::WithParamInterface<KindCase> {
protected:
    void SetUp() override {
        CspDirTest::SetUp();
        keys = pairOf(GetParam().kind);
        ASSERT_TRUE(keys.a && keys.b);
    }
    KeyPair keys;
};

// Where the body starts: behind the magic and the key exchange header.
unsigned bodyOffset(const CBlob& packet) {
    CBlob m(packet.getData(), packet.getSize());
    KeyExchangeHeader h;
    EXPECT_EQ(ht::readCryptoHeader(m, h), 0);
    return m.getOffset();
}

int open(const CBlob& packet, Crypto1By1Connect& connection, CBlob& plain) {
    CBlob m(packet.getData(), packet.getSize());
    KeyExchangeHeader h;
    if (const int r = ht::readCryptoHeader(m, h)) return r;
    const int r = ht::decryptPacket(m, connection);
    if (r == 0) plain = m;
    return r;
}

}  // namespace

TEST_P(Protection, EncryptedPacketCarriesTheKeysAndOpensAtThePeer) {
    const CBlob serial = blobOf("\x11\x22\x33");
    ASSERT_EQ(keys.a->importPublicKey2Side(publicKeyOf(*keys.b), serial), 0u);
    const CBlob payload = payloadOf(2, 4, 1, std::string(3000, 'p'));
    CBlob packet;
    ASSERT_EQ(ht::encryptAndSign(payload, *keys.a, packet), 0);

    EXPECT_EQ(text(packet).substr(0, 13), "tesel.message");
    CBlob m(packet.getData(), packet.getSize());
    KeyExchangeHeader h;
    ASSERT_EQ(ht::readCryptoHeader(m, h), 0);
    EXPECT_EQ(h.format, GetParam().format);
    EXPECT_EQ(h.senderPublicKey, publicKeyOf(*keys.a));
    if (GetParam().format == 2) {
        EXPECT_EQ(text(packet).substr(13, 4), std::string("\x45\x8D\xFF\x32", 4));
        EXPECT_EQ(h.recipientPublicKey, publicKeyOf(*keys.b));
        EXPECT_EQ(h.recipientCertSerial, serial);
    } else {
        EXPECT_TRUE(h.recipientPublicKey.isEmpty());
    }
    // The body is the encrypted message: key blob, an 8-byte IV, cipher text
    // as long as the payload, then the signature of the key's size.
    const std::string rest = text(packet).substr(m.getOffset());
    const unsigned blobLen = static_cast<unsigned char>(rest[0]) | (static_cast<unsigned char>(rest[1]) << 8);
    EXPECT_EQ(rest.substr(4 + blobLen, 4), le32(8));
    EXPECT_EQ(rest.size(), 4 + blobLen + 4 + 8 + payload.getSize() + GetParam().sigSize);
    EXPECT_EQ(keys.a->getSzSign(), GetParam().sigSize);

    ASSERT_EQ(ht::decryptPacket(m, *keys.b), 0);
    EXPECT_EQ(m, payload);
    EXPECT_EQ(m.getOffset(), 0u);
}

TEST_P(Protection, SignedOnlyPacketCarriesThePayloadInClear) {
    const CBlob payload = payloadOf(1, 3, 3, lp("card bytes"));
    CBlob packet;
    ASSERT_EQ(ht::signQnPacket(payload, *keys.a, packet), 0);
    const unsigned at = bodyOffset(packet);
    EXPECT_EQ(text(packet).substr(at, payload.getSize()), text(payload));
    EXPECT_EQ(packet.getSize(), at + payload.getSize() + GetParam().sigSize);
    EXPECT_EQ(keys.b->verifySignMessage(packet), 0u);
}

// The forms that write behind the caller's room: the packet after the room
// is the same kind of packet, signed over itself only, so whatever the
// caller writes into the room later changes nothing.
TEST_P(Protection, PacketsWrittenBehindARoomOpenOnTheirOwn) {
    const CBlob payload = payloadOf(2, 4, 1, std::string(3000, 'r'));
    const unsigned room = 37;
    CBlob out;
    ASSERT_EQ(ht::encryptAndSignInto(payload.getBLOB(), *keys.a, room, out), 0);
    ASSERT_GT(out.getSize(), room);
    for (unsigned i = 0; i < room; ++i) out[i] = 0xA5;
    CBlob packet(out.getData() + room, out.getSize() - room);
    CBlob plain;
    ASSERT_EQ(open(packet, *keys.b, plain), 0);
    EXPECT_EQ(plain, payload);

    CBlob signedOut;
    ASSERT_EQ(ht::signQnPacketInto(payload.getBLOB(), *keys.a, room, signedOut), 0);
    for (unsigned i = 0; i < room; ++i) signedOut[i] = 0x5A;
    EXPECT_EQ(keys.b->verifySignMessage(CBlob(signedOut.getData() + room, signedOut.getSize() - room)), 0u);

    // A failed step leaves the caller's blob as it was.
    Crypto1By1Connect closed;
    CBlob kept = payloadOf(1, 1, 1, "kept");
    EXPECT_NE(ht::encryptAndSignInto(payload.getBLOB(), closed, room, kept), 0);
    EXPECT_EQ(kept, payloadOf(1, 1, 1, "kept"));
}

TEST_P(Protection, AnyChangedByteFailsWithIntegrityBeforeDecryption) {
    const CBlob payload = payloadOf(2, 4, 1, std::string(2100, 'x'));
    CBlob packet;
    ASSERT_EQ(ht::encryptAndSign(payload, *keys.a, packet), 0);
    const unsigned body = bodyOffset(packet);
    // Last byte (signature), a cipher byte, the key blob, the magic's neighbour.
    for (unsigned at : {packet.getSize() - 1, packet.getSize() - GetParam().sigSize - 5, body + 10, 14u}) {
        CBlob bad(packet.getData(), packet.getSize());
        bad[at] ^= 0x01;
        CBlob plain;
        const int r = open(bad, *keys.b, plain);
        EXPECT_TRUE(r == ERR_PACKET_INTEGRITY || r == ERR_UNKNOWN_HEADER) << at << " gave " << r;
        if (at != 14u) {
            EXPECT_EQ(r, ERR_PACKET_INTEGRITY) << at;
        }
    }
}

TEST_P(Protection, PacketTooShortForItsSignatureIsRefused) {
    CBlob packet;
    ASSERT_EQ(ht::encryptAndSign(payloadOf(2, 4, 1, "abc"), *keys.a, packet), 0);
    const unsigned body = bodyOffset(packet);
    for (unsigned size : {body, body + 1, body + GetParam().sigSize - 1}) {
        CBlob cut(packet.getData(), size);
        KeyExchangeHeader h;
        ASSERT_EQ(ht::readCryptoHeader(cut, h), 0);
        const CBlob before = cut;
        EXPECT_EQ(ht::decryptPacket(cut, *keys.b), ERR_PACKET_INTEGRITY) << size;
        EXPECT_EQ(cut, before);
    }
    // Exactly header + signature: the signature is checked (and fails),
    // nothing is decrypted.
    CBlob exact(packet.getData(), body + GetParam().sigSize);
    exact.moveOffset(body);
    EXPECT_EQ(ht::decryptPacket(exact, *keys.b), ERR_PACKET_INTEGRITY);
}

TEST_P(Protection, SignatureOfTheWrongPeerIsRefused) {
    auto stranger = newKey("stranger", GetParam().kind);
    ASSERT_TRUE(stranger);
    ASSERT_EQ(stranger->importPublicKey2Side(publicKeyOf(*keys.b)), 0u);
    CBlob packet, plain;
    ASSERT_EQ(ht::encryptAndSign(payloadOf(2, 4, 1, "x"), *stranger, packet), 0);
    EXPECT_EQ(open(packet, *keys.b, plain), ERR_PACKET_INTEGRITY);
}

INSTANTIATE_TEST_SUITE_P(KeyClasses, Protection,
                         ::testing::Values(KindCase{CP_CRYPTOPRO, 1, 64}, KindCase{CP_CRYPTOPRO_GOST2012_256, 2, 64},
                                           KindCase{CP_CRYPTOPRO_GOST2012_512, 2, 128}),
                         [](const ::testing::TestParamInfo<KindCase>& i) {
                             return "Kind" + std::to_string(i.param.kind);
                         });

class ProtectionBasics : public testutil::CspDirTest {};

TEST_F(ProtectionBasics, ConnectionWithoutProviderAnswers3) {
    Crypto1By1Connect empty;
    CBlob packet = blobOf("tesel.message whatever follows");
    EXPECT_EQ(ht::encryptAndSign(blobOf("x"), empty, packet), ERR_CSP_NOT_INITIALIZED);
    EXPECT_EQ(ht::signQnPacket(blobOf("x"), empty, packet), ERR_CSP_NOT_INITIALIZED);
    packet.moveOffset(13);
    EXPECT_EQ(ht::decryptPacket(packet, empty), ERR_CSP_NOT_INITIALIZED);
}

TEST_F(ProtectionBasics, EmptyPayloadStillMakesAPacket) {
    KeyPair keys = pairOf(CP_CRYPTOPRO_GOST2012_256);
    CBlob packet, plain;
    ASSERT_EQ(ht::encryptAndSign(CBlob(), *keys.a, packet), 0);
    ASSERT_EQ(open(packet, *keys.b, plain), 0);
    EXPECT_TRUE(plain.isEmpty());
}

// --- answers from the CA, opened with a connection paired with the CA

class AnswerOpening : public testutil::CspDirTest {
protected:
    void SetUp() override {
        CspDirTest::SetUp();
        keys = pairOf(CP_CRYPTOPRO_GOST2012_256, "ans");
        ASSERT_TRUE(keys.a && keys.b);
    }
    // a plays the CA, b the client.
    CBlob answerPacket(const CBlob& payload) {
        CBlob packet;
        EXPECT_EQ(ht::encryptAndSign(payload, *keys.a, packet), 0);
        return packet;
    }
    KeyPair keys;
};

TEST_F(AnswerOpening, DecodeReturnsTheAnswerBlobAndReadsThePermanentHeader) {
    CPacketOutRequest request("0f0e0d0c");
    EXPECT_EQ(request.getUrl(), "/api/getPacketOutByUuid/0f0e0d0c");
    request.setResponse(answerPacket(payloadOf(1, 5, 3, lp(le32(0) + lp("DER")) + "trailing")));
    CBlob answer;
    ASSERT_EQ(request.decode(answer, *keys.b), 0);
    EXPECT_EQ(text(answer), le32(0) + lp("DER"));
    EXPECT_EQ(answer.getOffset(), 0u);
    EXPECT_EQ(request.getVersion(), 1u);
    EXPECT_EQ(request.getPackageType(), tesel::PT_CERTIFICATE);
    EXPECT_EQ(request.getRequesterType(), tesel::QN_CA);
    EXPECT_EQ(request.getSenderVersion(), 101276u);
}

TEST_F(AnswerOpening, AnswersThatRunPastTheirEndAreDamaged) {
    for (const std::string& body : {std::string(), lp("abc").substr(0, 5), le32(100) + "short"}) {
        CPacketOutRequest request("u");
        request.setResponse(answerPacket(payloadOf(1, 5, 3, body)));
        CBlob answer = blobOf("untouched");
        EXPECT_EQ(request.decode(answer, *keys.b), ERR_PACKET_DAMAGED);
        EXPECT_EQ(text(answer), "untouched");
    }
    CPacketOutRequest shortHeader("u");
    shortHeader.setResponse(answerPacket(blobOf("only12bytes!")));
    CBlob answer;
    EXPECT_EQ(shortHeader.decode(answer, *keys.b), ERR_PACKET_DAMAGED);
}

TEST_F(AnswerOpening, ServerErrorsComeBeforeAnyCryptography) {
    CPacketOutRequest request("u");
    request.setResponse(blobOf("tesel.messageerror=" + le32(1)));
    CBlob answer;
    EXPECT_EQ(request.decode(answer, *keys.b), ERR_REQUEST_NOT_REVIEWED);
    request.setResponse(blobOf("<html>502</html>"));
    EXPECT_EQ(request.decode(answer, *keys.b), ERR_UNKNOWN_HEADER);
}

TEST_F(AnswerOpening, AnAnswerFromAnotherKeyThanThePairedCaIsRefused) {
    // The stranger addresses the client properly, but the client expects the CA.
    auto stranger = newKey("stranger", CP_CRYPTOPRO_GOST2012_256);
    ASSERT_TRUE(stranger);
    ASSERT_EQ(stranger->importPublicKey2Side(publicKeyOf(*keys.b)), 0u);
    CBlob packet;
    ASSERT_EQ(ht::encryptAndSign(payloadOf(1, 5, 3, lp("x")), *stranger, packet), 0);
    CPacketOutRequest request("u");
    request.setResponse(packet);
    CBlob answer;
    EXPECT_EQ(request.decode(answer, *keys.b), ERR_PACKET_INTEGRITY);
    // A connection not paired with anyone takes the sender from the header.
    auto fresh = newKey("fresh", CP_CRYPTOPRO_GOST2012_256);
    ASSERT_TRUE(fresh);
    ASSERT_EQ(keys.a->importPublicKey2Side(publicKeyOf(*fresh)), 0u);
    request.setResponse(answerPacket(payloadOf(1, 5, 3, lp("y"))));
    ASSERT_EQ(request.decode(answer, *fresh), 0);
    EXPECT_EQ(text(answer), "y");
}

TEST_F(AnswerOpening, DecryptPacketOutGivesTheWholePayload) {
    const CBlob payload = payloadOf(1, 8, 3, lp(le32(0) + lp("msg") + lp("DER")));
    CBlob out;
    ASSERT_EQ(ht::decryptPacketOut(answerPacket(payload), out, *keys.b), 0);
    EXPECT_EQ(out, payload);
    EXPECT_EQ(out.getOffset(), 0u);
    CBlob bad = answerPacket(payload);
    bad[bad.getSize() - 1] ^= 0x80;
    EXPECT_EQ(ht::decryptPacketOut(bad, out, *keys.b), ERR_PACKET_INTEGRITY);
}

// --- operations that take their key from the CA-side key store

class StoreProtection : public testutil::CspDirTest {
protected:
    // A key of the user prepared for the CA exchange, kept by the store.
    CBlob prepare(const std::string& name, eSupportCP kind) {
        auto key = newKey(name, kind);
        EXPECT_TRUE(key);
        const CBlob pub = publicKeyOf(*key);
        qn::crypto::getCryptoModule(pub).setCrypto(key.release());
        return pub;
    }
};

TEST_F(StoreProtection, PacketForAPreparedKeyOpensWithItsHeader) {
    const CBlob mine = prepare("mine", CP_CRYPTOPRO_GOST2012_256);
    auto page = newKey("page-peer", CP_CRYPTOPRO_GOST2012_256);
    ASSERT_TRUE(page);
    ASSERT_EQ(page->importPublicKey2Side(mine), 0u);
    const CBlob payload = payloadOf(2, 4, 1, "payload");
    CBlob packet;
    ASSERT_EQ(ht::encryptAndSign(payload, *page, packet), 0);
    const CBlob original = packet;

    KeyExchangeHeader header;
    CBlob plain;
    ASSERT_EQ(ht::decrypt(packet, plain, header), 0);
    EXPECT_EQ(plain, payload);
    EXPECT_EQ(header.recipientPublicKey, mine);
    EXPECT_EQ(packet, original);
    CBlob again;
    EXPECT_EQ(ht::decrypt(packet, again), 0);
    EXPECT_EQ(again, payload);
}

TEST_F(StoreProtection, EncryptSignAndSignPacketAnswerTheHeadersSender) {
    const CBlob mine = prepare("mine2", CP_CRYPTOPRO_GOST2012_256);
    auto page = newKey("page2", CP_CRYPTOPRO_GOST2012_256);
    ASSERT_TRUE(page);
    ASSERT_EQ(page->importPublicKey2Side(mine), 0u);
    KeyExchangeHeader header;
    header.senderPublicKey = publicKeyOf(*page);
    header.recipientPublicKey = mine;
    const CBlob payload = payloadOf(2, 4, 1, "answer");

    CBlob packet, plain;
    ASSERT_EQ(ht::encryptSign(payload, packet, header), 0);
    ASSERT_EQ(open(packet, *page, plain), 0);
    EXPECT_EQ(plain, payload);
    CBlob m = packet;
    KeyExchangeHeader sent;
    ASSERT_EQ(ht::readCryptoHeader(m, sent), 0);
    EXPECT_EQ(sent.senderPublicKey, mine);
    EXPECT_EQ(sent.recipientPublicKey, publicKeyOf(*page));

    CBlob signedOnly;
    ASSERT_EQ(ht::signPacket(payload, signedOnly, header), 0);
    EXPECT_EQ(page->verifySignMessage(signedOnly), 0u);
    EXPECT_NE(text(signedOnly).find(text(payload)), std::string::npos);
}

TEST_F(StoreProtection, UnknownRecipientIsAKeyAgreementErrorAndAddsNothing) {
    auto page = newKey("page3", CP_CRYPTOPRO_GOST2012_256);
    auto nobody = newKey("nobody", CP_CRYPTOPRO_GOST2012_256);
    ASSERT_TRUE(page && nobody);
    KeyExchangeHeader header;
    header.senderPublicKey = publicKeyOf(*page);
    header.recipientPublicKey = publicKeyOf(*nobody);
    CBlob packet = blobOf("old");
    EXPECT_EQ(ht::encryptSign(blobOf("x"), packet, header), ERR_KEY_AGREEMENT);
    EXPECT_EQ(ht::signPacket(blobOf("x"), packet, header), ERR_KEY_AGREEMENT);
    EXPECT_EQ(CACertStore::instance().findCryptoModule(publicKeyOf(*nobody)), nullptr);

    ASSERT_EQ(page->importPublicKey2Side(publicKeyOf(*nobody)), 0u);
    ASSERT_EQ(ht::encryptAndSign(blobOf("x"), *page, packet), 0);
    CBlob plain;
    EXPECT_EQ(ht::decrypt(packet, plain), ERR_KEY_AGREEMENT);
}

TEST_F(StoreProtection, Format1PacketOpensWithTheFirstKeyAndReportsFormat2) {
    prepare("mine2001", CP_CRYPTOPRO);
    qn::crypto::ControllerCACrypto* first = CACertStore::instance().firstCryptoModule();
    ASSERT_NE(first, nullptr);
    const CBlob firstKey = publicKeyOf(*first->getCrypto());
    ASSERT_EQ(qn::crypto::getGostCrypto(firstKey), qn::crypto::GOST_2001);
    auto sender = newKey("sender2001", CP_CRYPTOPRO);
    ASSERT_TRUE(sender);
    ASSERT_EQ(sender->importPublicKey2Side(firstKey), 0u);
    const CBlob payload = payloadOf(2, 7, 1, "renewal");
    CBlob packet;
    ASSERT_EQ(ht::encryptAndSign(payload, *sender, packet), 0);
    EXPECT_NE(text(packet).substr(13, 4), std::string("\x45\x8D\xFF\x32", 4));

    KeyExchangeHeader header;
    CBlob plain;
    ASSERT_EQ(ht::decrypt(packet, plain, header), 0);
    EXPECT_EQ(plain, payload);
    EXPECT_EQ(header.format, 2u);
    EXPECT_EQ(header.recipientPublicKey, firstKey);
    EXPECT_EQ(header.senderPublicKey, publicKeyOf(*sender));
}
