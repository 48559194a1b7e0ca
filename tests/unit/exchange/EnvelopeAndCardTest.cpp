// Exchanges with the local CA peer that need no certificate request:
// envelope lookups by convert ID (GOST 2001 and 2012 envelopes), the
// partner's client card registration and its answer, every server error
// number, tampered packets in both directions and the packet size limit.
#include <gtest/gtest.h>

#include "PeerFixture.h"
#include "client/CClient.h"
#include "transport/CHttpGetCSPByConvertId.h"
#include "transport/CHttpGetPacketOutByConvertId.h"
#include "transport/CPacketClientCard.h"
#include "transport/CPacketOutRequest.h"
#include "transport/CRegisterClientCardRequest.h"
#include "transport/common/TransportHeader.h"

using namespace exchange_test;
using qn::crypto::CP_CRYPTOPRO;
using qn::crypto::CP_CRYPTOPRO_GOST2012_256;
using qn::crypto::CP_VIPNET_GOST2012_256;

namespace {

tesel::CClient sampleCard(const std::string& surname) {
    tesel::CClient c;
    c.setSurname(surname);
    c.setName("Ivan");
    c.setINN("7707083893");
    c.setCompanyName("OOO Test");
    c.setConvertId("AB12C7");
    return c;
}

class PeerExchange : public PeerSuite<PeerExchange> {};

std::string postCard(PeerProcess& peer, const CBlob& card, Crypto1By1Connect& key) {
    CRegisterClientCardRequest request(card, key);
    request.setSenderVersion(101276);
    CHttpConnection c = peer.connection();
    EXPECT_EQ(c.send(request), 0);
    return uuidOf(request.getResponse());
}

}  // namespace

TEST_F(PeerExchange, EnvelopeOfEachGenerationGivesItsKindAndSignedCard) {
    for (const auto kind : {CP_CRYPTOPRO, CP_CRYPTOPRO_GOST2012_256}) {
        const std::string id = "ENV" + std::to_string(kind);
        const CBlob card = sampleCard("Petrov").PartnerInfoToBinary();
        peer->addEnvelope(id, "12345678", kind, card);

        CHttpGetCSPByConvertId cspRequest(id);
        EXPECT_EQ(cspRequest.getUrl(), "/api/client/getCSPByConvertId/" + id);
        CHttpConnection c = peer->connection();
        ASSERT_EQ(c.send(cspRequest), 0);
        qn::crypto::eSupportCP got = qn::crypto::CP_NONE;
        ASSERT_EQ(cspRequest.decode(got), 0);
        EXPECT_EQ(got, kind);

        CHttpGetPacketOutByConvertId cardRequest(id);
        ASSERT_EQ(c.send(cardRequest), 0);
        CBlob payload;
        ASSERT_EQ(cardRequest.decode(payload, got), 0) << kind;
        EXPECT_EQ(payload, card);
        EXPECT_EQ(cardRequest.getPackageType(), tesel::PT_CARD_FROM_CA);
        EXPECT_EQ(cardRequest.getRequesterType(), tesel::QN_CA);
        tesel::CClient read;
        bool converted = false;
        ASSERT_EQ(read.BinaryToPartnerInfo(&payload, converted), 0);
        EXPECT_EQ(read.getSurname(), "Petrov");
    }
}

TEST_F(PeerExchange, Format1EnvelopeIsCheckedWithThe2001CounterpartOfTheKind) {
    const CBlob card = sampleCard("Sidorov").PartnerInfoToBinary();
    peer->addEnvelope("OLD2001", "pw", CP_CRYPTOPRO, card);
    CHttpGetPacketOutByConvertId request("OLD2001");
    CHttpConnection c = peer->connection();
    ASSERT_EQ(c.send(request), 0);
    CBlob payload;
    // Asked for as a 2012 kind: the format 1 header turns it into 75 / 2.
    EXPECT_EQ(request.decode(payload, CP_CRYPTOPRO_GOST2012_256), 0);
    EXPECT_EQ(payload, card);
    EXPECT_EQ(request.decode(payload, CP_VIPNET_GOST2012_256), 0);
    // A 2012 envelope verified as a 2001 kind has the wrong hash: 9.
    peer->addEnvelope("NEW2012", "pw", CP_CRYPTOPRO_GOST2012_256, card);
    CHttpGetPacketOutByConvertId newer("NEW2012");
    ASSERT_EQ(c.send(newer), 0);
    EXPECT_EQ(newer.decode(payload, CP_CRYPTOPRO), ERR_PACKET_INTEGRITY);
}

TEST_F(PeerExchange, EnvelopeProblemsMapToTheirCodes) {
    const CBlob card = sampleCard("X").PartnerInfoToBinary();
    const struct {
        const char* status;
        int code;
    } cases[] = {{"duplicate", ERR_MORE_THAN_ONE_ENVELOPE},
                 {"blocked", ERR_ENVELOPE_BLOCKED},
                 {"activated", ERR_ENVELOPE_ACTIVATED},
                 {"pending", ERR_CARD_NOT_ACCEPTED_YET}};
    CHttpConnection c = peer->connection();
    for (const auto& k : cases) {
        const std::string id = std::string("S") + k.status;
        peer->addEnvelope(id, "pw", CP_CRYPTOPRO_GOST2012_256, card, k.status);
        CHttpGetCSPByConvertId cspRequest(id);
        ASSERT_EQ(c.send(cspRequest), 0);
        qn::crypto::eSupportCP kind = qn::crypto::CP_RUTOKEN_GOST;
        EXPECT_EQ(cspRequest.decode(kind), k.code) << k.status;
        EXPECT_EQ(kind, qn::crypto::CP_RUTOKEN_GOST);
        CHttpGetPacketOutByConvertId cardRequest(id);
        ASSERT_EQ(c.send(cardRequest), 0);
        CBlob payload;
        EXPECT_EQ(cardRequest.decode(payload, CP_CRYPTOPRO_GOST2012_256), k.code) << k.status;
    }
    CHttpGetCSPByConvertId unknown("NOSUCH");
    ASSERT_EQ(c.send(unknown), 0);
    qn::crypto::eSupportCP kind = CP_CRYPTOPRO;
    EXPECT_EQ(unknown.decode(kind), ERR_WRONG_ENVELOPE);
    EXPECT_EQ(kind, CP_CRYPTOPRO);
}

TEST_F(PeerExchange, TamperedEnvelopeCardIsRefusedWith9) {
    const CBlob card = sampleCard("Tamper").PartnerInfoToBinary();
    peer->addEnvelope("TAMPER", "pw", CP_CRYPTOPRO_GOST2012_256, card);
    CHttpGetPacketOutByConvertId request("TAMPER");
    CHttpConnection c = peer->connection();
    ASSERT_EQ(c.send(request), 0);
    const CBlob good = request.getResponse();
    for (unsigned at : {good.getSize() - 1, good.getSize() - 70, 200u}) {
        CBlob bad = good;
        bad[at] ^= 0x04;
        request.setResponse(bad);
        CBlob payload;
        EXPECT_EQ(request.decode(payload, CP_CRYPTOPRO_GOST2012_256), ERR_PACKET_INTEGRITY) << at;
    }
    request.setResponse(CBlob(good.getData(), 150));
    CBlob payload;
    EXPECT_EQ(request.decode(payload, CP_CRYPTOPRO_GOST2012_256), ERR_PACKET_INTEGRITY);
}

TEST_F(PeerExchange, ClientCardIsRegisteredAndAnsweredForEachGeneration) {
    for (const auto kind : {CP_CRYPTOPRO, CP_CRYPTOPRO_GOST2012_256}) {
        auto key = newPairedKey(*peer, "partner" + std::to_string(kind), kind);
        ASSERT_TRUE(key);
        const std::string uuid = postCard(*peer, sampleCard("Partnerov").PartnerInfoToBinary(), *key);
        ASSERT_EQ(uuid.size(), 36u);
        CBlob answer;
        ASSERT_EQ(fetchAnswer(*peer, uuid, *key, answer), 0);
        CPacketClientCard packet;
        EXPECT_FALSE(packet.isResponsed());
        ASSERT_EQ(packet.deserializeServerAnswer(&answer), 0);
        EXPECT_EQ(packet.getResponse(), tesel::PARTNER_RESPONSE_ACCEPTED);
        EXPECT_EQ(packet.getMessage(), "\xCA\xE0\xF0\xF2\xEE\xF7\xEA\xE0 \xEA\xEB\xE8\xE5\xED\xF2\xE0 "
                                       "\xEF\xF0\xE8\xED\xFF\xF2\xE0.");  // CP1251
    }
}

TEST_F(PeerExchange, HeldAnswerIsNotReviewedUntilRejected) {
    auto key = newPairedKey(*peer, "held", CP_CRYPTOPRO_GOST2012_256);
    ASSERT_TRUE(key);
    ASSERT_EQ(peer->control("hold/on"), "hold on\n");
    const std::string uuid = postCard(*peer, sampleCard("Held").PartnerInfoToBinary(), *key);
    peer->control("hold/off");
    CBlob answer;
    EXPECT_EQ(fetchAnswer(*peer, uuid, *key, answer), ERR_REQUEST_NOT_REVIEWED);
    peer->control("reject/" + uuid + "?response=5&message=%D0%9D%D0%B5%D1%82");  // "Нет"
    ASSERT_EQ(fetchAnswer(*peer, uuid, *key, answer), 0);
    CPacketClientCard packet;
    ASSERT_EQ(packet.deserializeServerAnswer(&answer), 0);
    EXPECT_EQ(static_cast<unsigned>(packet.getResponse()), 5u);
    EXPECT_EQ(packet.getMessage(), "\xCD\xE5\xF2");
}

TEST_F(PeerExchange, EveryServerErrorNumberIsMapped) {
    auto key = newPairedKey(*peer, "errors", CP_CRYPTOPRO_GOST2012_256);
    ASSERT_TRUE(key);
    const std::string uuid = postCard(*peer, sampleCard("Err").PartnerInfoToBinary(), *key);
    const int expected[] = {22, 23, 24, 22, 26, 27, 29, 28, 30, 22, 25, 1, 19, 20, 32, 32};
    for (unsigned n = 0; n < sizeof expected / sizeof expected[0]; ++n) {
        peer->control("error/" + uuid + "/" + std::to_string(n == 15 ? 4000 : n));
        CBlob answer;
        EXPECT_EQ(fetchAnswer(*peer, uuid, *key, answer), expected[n]) << n;
    }
    CBlob answer;
    EXPECT_EQ(fetchAnswer(*peer, "00000000-0000-4000-8000-000000000000", *key, answer), ERR_SERVER_INTERNAL);
    EXPECT_EQ(fetchAnswer(*peer, "not%20a%20uuid", *key, answer), ERR_PACKET_DAMAGED);
}

TEST_F(PeerExchange, TamperedPacketsAreRefusedOnBothSides) {
    auto key = newPairedKey(*peer, "tamper", CP_CRYPTOPRO_GOST2012_256);
    ASSERT_TRUE(key);
    CRegisterClientCardRequest request(sampleCard("Tamper").PartnerInfoToBinary(), *key);
    CBlob packet;
    ASSERT_EQ(request.build(packet), 0);
    // The peer checks the signature before it decrypts: a changed byte is
    // damaged input for it (server number 13, code 20 here).
    for (unsigned at : {packet.getSize() - 1, packet.getSize() / 2}) {
        CBlob bad = packet;
        bad[at] ^= 0x10;
        RawPost post(CRegisterClientCardRequest::kPath, bad);
        CHttpConnection c = peer->connection();
        ASSERT_EQ(c.send(post), 0);
        CBlob m = post.getResponse();
        EXPECT_EQ(qn::http_transport::readHeader(m), ERR_PACKET_DAMAGED) << at;
    }
    const auto log = peer->logEndingWith("signature does not verify");
    ASSERT_FALSE(log.empty());
    EXPECT_NE(log.back().find("signature does not verify"), std::string::npos) << log.back();

    // And an answer of the peer with a changed byte is refused here with 9.
    RawPost good(CRegisterClientCardRequest::kPath, packet);
    CHttpConnection c = peer->connection();
    ASSERT_EQ(c.send(good), 0);
    const std::string uuid = uuidOf(good.getResponse());
    CPacketOutRequest fetch(uuid);
    ASSERT_EQ(c.send(fetch), 0);
    CBlob answer = fetch.getResponse();
    for (unsigned at : {answer.getSize() - 1, answer.getSize() - 80}) {
        CBlob bad = answer;
        bad[at] ^= 0x01;
        fetch.setResponse(bad);
        CBlob payload;
        EXPECT_EQ(fetch.decode(payload, *key), ERR_PACKET_INTEGRITY) << at;
    }
}

TEST_F(PeerExchange, PacketOfTenMebibytesIsRefusedWith25) {
    auto key = newPairedKey(*peer, "large", CP_CRYPTOPRO_GOST2012_256);
    ASSERT_TRUE(key);
    // The protected packet grows byte for byte with the card.
    CBlob small(100);
    CBlob packet;
    ASSERT_EQ(CRegisterClientCardRequest(small, *key).build(packet), 0);
    const unsigned overhead = packet.getSize() - small.getSize();
    const unsigned limit = 10u * 1024 * 1024;

    CBlob exact(limit - overhead);
    CBlob out = blobOf("unchanged");
    EXPECT_EQ(CRegisterClientCardRequest(exact, *key).build(out), ERR_PACKET_TOO_LARGE);
    EXPECT_EQ(text(out), "unchanged");
    std::vector<std::string> headers;
    EXPECT_EQ(CRegisterClientCardRequest(exact, *key).build(out, headers), ERR_PACKET_TOO_LARGE);

    // One byte less may be sent, and the peer takes it.
    CRegisterClientCardRequest below(CBlob(limit - overhead - 1), *key);
    ASSERT_EQ(below.build(out), 0);
    EXPECT_EQ(out.getSize(), limit - 1);
    CHttpConnection c = peer->connection();
    ASSERT_EQ(c.send(below), 0);
    EXPECT_EQ(uuidOf(below.getResponse()).size(), 36u);

    // The peer refuses a packet of 10 MiB itself with server number 10.
    RawPost huge(CRegisterClientCardRequest::kPath, CBlob(limit));
    ASSERT_EQ(c.send(huge), 0);
    CBlob m = huge.getResponse();
    EXPECT_EQ(qn::http_transport::readHeader(m), ERR_PACKET_TOO_LARGE);
}
