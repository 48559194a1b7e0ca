// The packet crypto commands through the command table, with a peer made of
// our own connection: the user's certificate is prepared by command 150, the
// peer protects packets for its key and opens the packets the commands make.
#include <memory>
#include <string>

#include "CommandTestSupport.h"
#include "client/CClient.h"
#include "crypto/CryptoBase.h"
#include "crypto/UserCspInfo.h"
#include "errors/eErrCodes.h"
#include "transport/PacketProtection.h"
#include "transport/common/KeyExchangeHeader.h"
#include "transport/common/TransportHeader.h"

using namespace cmdtest;
using namespace qn::crypto;
using qn::http_transport::KeyExchangeHeader;

namespace {

// Permanent header followed by body.
tesel::CBlob payloadOf(unsigned version, unsigned type, const tesel::CBlob& body) {
    tesel::CBlob p(16 + body.getSize());
    p.serialize(version);
    p.serialize(type);
    p.serialize(1u);
    p.serialize(101276u);
    p.serialize(body.getData(), body.getSize());
    return p;
}

tesel::CBlob oneBlob(const tesel::CBlob& b) { return blobs({&b}); }

tesel::CBlob firstBlob(tesel::CBlob payload) {
    tesel::CBlob b;
    payload.deserialize(&b);
    EXPECT_FALSE(payload.isMalformed());
    return b;
}

tesel::CClient sampleCard() {
    tesel::CClient card;
    card.setClientType(tesel::TS_LEGAL_ENTITY);
    card.setINN("5032149676");
    card.setCompanyName("Romashka");
    card.setSurname("Ivanov");
    return card;
}

}  // namespace

class PacketCommands : public CommandTest {
protected:
    void SetUp() override {
        CommandTest::SetUp();
        prepare(CP_CRYPTOPRO_GOST2012_256);
    }
    // The user's certificate prepared by 150, and a peer paired with its key.
    void prepare(eSupportCP kind) {
        const Bytes der = userCert("user" + std::to_string(kind), kind, testca::CertFields());
        ASSERT_EQ(run(20).result, 0u);
        const unsigned index = static_cast<unsigned>(ControllerPKIClient::instance().getMapUserCert().size() - 1);
        ASSERT_EQ(run(150, u32s({index, 0})).result, 0u);
        Ctx cert = certtest::ctxOf(der);
        ASSERT_EQ(CryptoBase::publicKeyInfoFromCert(cert.get(), m_userKey), 0u);
        m_peer = newContainer("peer" + std::to_string(kind), kind);
        ASSERT_TRUE(m_peer);
        ASSERT_EQ(m_peer->importPublicKey2Side(m_userKey), 0u);
        ASSERT_EQ(m_peer->getPublicKey(m_peerKey), 0u);
    }
    tesel::CBlob toUser(const tesel::CBlob& payload) {
        tesel::CBlob packet;
        EXPECT_EQ(qn::http_transport::encryptAndSign(payload, *m_peer, packet), 0);
        return packet;
    }
    // The header the page passes to 110 and 114.
    tesel::CBlob headerFor(const tesel::CBlob& recipient) const {
        KeyExchangeHeader h;
        h.senderPublicKey = m_peerKey;
        h.recipientPublicKey = recipient;
        tesel::CBlob out;
        EXPECT_EQ(h >> out, 0);
        return out;
    }

    tesel::CBlob m_userKey;
    tesel::CBlob m_peerKey;
    std::shared_ptr<Crypto1By1Connect> m_peer;
};

TEST_F(PacketCommands, DecryptVerifyAndDamage) {
    const tesel::CBlob plain = payloadOf(2, 5, test_bytes::blobOf("certificate answer"));
    tesel::CBlob packet = toUser(plain);

    Reply r = run(112, oneBlob(packet));
    EXPECT_EQ(r.answer, 113u);
    ASSERT_EQ(r.result, 0u);
    EXPECT_EQ(bytesOf(firstBlob(r.payload)), bytesOf(plain));
    EXPECT_EQ(r.payload.getSize(), 4 + plain.getSize());

    // One byte changed anywhere: integrity error and an empty blob.
    for (unsigned at : {20u, packet.getSize() / 2, packet.getSize() - 1}) {
        tesel::CBlob damaged = packet;
        damaged[at] ^= 0x01;
        r = run(112, oneBlob(damaged));
        EXPECT_NE(r.result, 0u) << at;
        EXPECT_EQ(bytesOf(r.payload), (Bytes{0, 0, 0, 0})) << at;
    }
    tesel::CBlob tail = packet;
    tail[packet.getSize() - 1] ^= 0x80;
    EXPECT_EQ(run(112, oneBlob(tail)).result, static_cast<unsigned>(ERR_PACKET_INTEGRITY));
    // Shorter than a signature, and no packet at all.
    EXPECT_EQ(run(112, oneBlob(tesel::CBlob(packet.getData(), 40))).result, static_cast<unsigned>(ERR_UNKNOWN_HEADER));
    r = run(112, tesel::CBlob(packet.getData(), 2));
    EXPECT_EQ(r.result, 1u);
    EXPECT_EQ(bytesOf(r.payload), (Bytes{0, 0, 0, 0}));
}

TEST_F(PacketCommands, DecryptPacketInReturnsHeaderAndWholePayload) {
    const tesel::CBlob plain = payloadOf(2, 5, test_bytes::blobOf("body"));
    const Reply r = run(108, oneBlob(toUser(plain)));
    EXPECT_EQ(r.answer, 109u);
    ASSERT_EQ(r.result, 0u);
    tesel::CBlob payload = r.payload;
    tesel::CBlob headerBytes, opened;
    payload.deserialize(&headerBytes);
    payload.deserialize(&opened);
    EXPECT_TRUE(payload.isCompleted());
    EXPECT_EQ(bytesOf(opened), bytesOf(plain));
    KeyExchangeHeader h;
    ASSERT_EQ(KeyExchangeHeader::decode(headerBytes, h), 0);
    EXPECT_EQ(h.format, 2u);
    EXPECT_EQ(bytesOf(h.senderPublicKey), bytesOf(m_peerKey));
    EXPECT_EQ(bytesOf(h.recipientPublicKey), bytesOf(m_userKey));

    // A payload too short for its permanent header: damaged, no payload.
    const Reply shortOne = run(108, oneBlob(toUser(test_bytes::blobOf("tiny"))));
    EXPECT_EQ(shortOne.result, static_cast<unsigned>(ERR_PACKET_DAMAGED));
    EXPECT_TRUE(shortOne.payload.isEmpty());
}

TEST_F(PacketCommands, UnknownRecipientKeyIsKeyAgreementError) {
    // A peer paired with a key that no module holds.
    auto stranger = newContainer("stranger", CP_CRYPTOPRO_GOST2012_256);
    tesel::CBlob strangerKey;
    ASSERT_EQ(stranger->getPublicKey(strangerKey), 0u);
    ASSERT_EQ(m_peer->importPublicKey2Side(strangerKey), 0u);
    const tesel::CBlob packet = toUser(payloadOf(2, 5, tesel::CBlob()));
    for (unsigned command : {104u, 108u, 112u}) {
        EXPECT_EQ(run(command, oneBlob(packet)).result, static_cast<unsigned>(ERR_KEY_AGREEMENT)) << command;
    }
    const tesel::CBlob payload = test_bytes::blobOf("x");
    const tesel::CBlob unknown = headerFor(strangerKey);
    const tesel::CBlob garbage = test_bytes::blobOf("\x45\x8D\xFF\x32\x02");
    for (unsigned command : {110u, 114u}) {
        for (const tesel::CBlob* header : {&unknown, &garbage}) {
            const Reply r = run(command, blobs({header, &payload}));
            EXPECT_EQ(r.result, static_cast<unsigned>(ERR_KEY_AGREEMENT)) << command;
            EXPECT_EQ(bytesOf(r.payload), (Bytes{0, 0, 0, 0})) << command;
        }
    }
}

TEST_F(PacketCommands, EncryptSignAndSignOpenAtThePeer) {
    const tesel::CBlob header = headerFor(m_userKey);
    const tesel::CBlob payload = payloadOf(2, 3, test_bytes::blobOf("for the peer"));

    Reply r = run(110, blobs({&header, &payload}));
    EXPECT_EQ(r.answer, 111u);
    ASSERT_EQ(r.result, 0u);
    tesel::CBlob packet = firstBlob(r.payload);
    ASSERT_EQ(qn::http_transport::openWithConnection(packet, *m_peer), 0);
    EXPECT_EQ(bytesOf(packet), bytesOf(payload));

    r = run(114, blobs({&header, &payload}));
    EXPECT_EQ(r.answer, 115u);
    ASSERT_EQ(r.result, 0u);
    const tesel::CBlob signedPacket = firstBlob(r.payload);
    EXPECT_EQ(m_peer->verifySignMessage(signedPacket), 0u);
    // The payload travels in clear in front of the signature.
    const Bytes all = bytesOf(signedPacket);
    const Bytes body(all.end() - 64 - payload.getSize(), all.end() - 64);
    EXPECT_EQ(body, bytesOf(payload));
}

TEST_F(PacketCommands, ClientCardsOfPackageTypes) {
    const tesel::CClient card = sampleCard();
    const tesel::CBlob cardBytes = card.PartnerInfoToBinary();
    const tesel::CBlob expected = card.PartnerInfoToBinary2();

    // Type 1: the partner's card.
    Reply r = run(104, oneBlob(toUser(payloadOf(1, 1, oneBlob(cardBytes)))));
    EXPECT_EQ(r.answer, 105u);
    ASSERT_EQ(r.result, 0u);
    EXPECT_EQ(bytesOf(firstBlob(r.payload)), bytesOf(expected));

    // Type 7: a renewal with its certificate, request and CSP information.
    UserCspInfo info;
    tesel::CBlob infoBytes;
    info >> infoBytes;
    const tesel::CBlob cert = test_bytes::blobOf("cert"), request = test_bytes::blobOf("p10");
    r = run(104, oneBlob(toUser(payloadOf(2, 7, blobs({&cert, &cardBytes, &request, &infoBytes})))));
    ASSERT_EQ(r.result, 0u);
    EXPECT_EQ(bytesOf(firstBlob(r.payload)), bytesOf(expected));

    // Type 4: nothing to read, an empty card.
    r = run(104, oneBlob(toUser(payloadOf(2, 4, test_bytes::blobOf("request")))));
    EXPECT_EQ(r.result, 0u);
    EXPECT_EQ(bytesOf(r.payload), (Bytes{0, 0, 0, 0}));

    // A damaged card: its error, no payload.
    r = run(104, oneBlob(toUser(payloadOf(1, 1, oneBlob(test_bytes::blobOf("not a card"))))));
    EXPECT_EQ(r.result, static_cast<unsigned>(ERR_CARD_DAMAGED));
    EXPECT_TRUE(r.payload.isEmpty());
}
