// The CA request objects and payload readers without a server: the exact
// payloads of the request packets, the convert-ID answers and the readers of
// client payloads.
#include <gtest/gtest.h>

#include "PacketTestSupport.h"
#include "client/CClient.h"
#include "core/AppInfo.h"
#include "errors/eErrCodes.h"
#include "transport/CHttpGetCSPByConvertId.h"
#include "transport/CHttpGetPacketOutByConvertId.h"
#include "transport/CHttpRegisterPKCS10Request.h"
#include "transport/CRegisterClientCardRequest.h"
#include "transport/PacketProtection.h"
#include "transport/PayloadReaders.h"
#include "transport/common/TransportHeader.h"

using namespace packets_test;
using qn::crypto::CP_CRYPTOPRO;
using qn::crypto::CP_CRYPTOPRO_GOST2012_256;
using qn::http_transport::KeyExchangeHeader;
namespace ht = qn::http_transport;

namespace {

const std::string kMagic = "tesel.message";

// Opens a packet the way the CA does: header, signature, decryption.
std::string openAt(const CBlob& packet, Crypto1By1Connect& ca) {
    CBlob m = packet;
    KeyExchangeHeader h;
    EXPECT_EQ(ht::readCryptoHeader(m, h), 0);
    EXPECT_EQ(ht::decryptPacket(m, ca), 0);
    return text(m);
}

class Endpoints : public testutil::CspDirTest {
protected:
    void SetUp() override {
        CspDirTest::SetUp();
        keys = pairOf(CP_CRYPTOPRO_GOST2012_256, "ep");  // a: client, b: CA
        ASSERT_TRUE(keys.a && keys.b);
    }
    KeyPair keys;
};

}  // namespace

TEST_F(Endpoints, CertificateRequestPacketCarriesItsFieldsInOrder) {
    tesel::setVersion(101276);
    CHttpRegisterPKCS10Request request(blobOf("P10-DER"), "AB12C7", "PIN-8765", blobOf("CSPINFO"), *keys.a);
    EXPECT_EQ(request.getUrl(), "/api/client/setRequestToCert");
    EXPECT_EQ(request.getType(), HTTP_POST);
    EXPECT_TRUE(request.isBinaryContent());
    EXPECT_EQ(request.getSenderVersion(), 101276u);
    CBlob packet;
    ASSERT_EQ(request.buildRequest(packet), 0);
    EXPECT_EQ(openAt(packet, *keys.b), le32(2) + le32(4) + le32(1) + le32(101276) + lp("CSPINFO") + lp("AB12C7") +
                                           lp("PIN-8765") + lp("P10-DER"));
    CBlob viaBuild;
    std::vector<std::string> headers;
    ASSERT_EQ(request.build(viaBuild, headers), 0);
    EXPECT_TRUE(headers.empty());
    EXPECT_EQ(openAt(viaBuild, *keys.b), openAt(packet, *keys.b));
}

TEST_F(Endpoints, ClientCardPacketCarriesTheCard) {
    CRegisterClientCardRequest request(blobOf("CARD-BYTES"), *keys.a);
    EXPECT_EQ(request.getUrl(), "/api/partner/setClientInfo");
    EXPECT_EQ(request.getVersion(), 1u);
    request.setSenderVersion(101276);
    CBlob packet;
    ASSERT_EQ(request.build(packet), 0);
    EXPECT_EQ(openAt(packet, *keys.b), le32(1) + le32(1) + le32(2) + le32(101276) + lp("CARD-BYTES"));
}

TEST_F(Endpoints, RequestWithoutAProviderFailsAndLeavesThePacket) {
    Crypto1By1Connect empty;
    CRegisterClientCardRequest request(blobOf("CARD"), empty);
    CBlob packet = blobOf("old");
    EXPECT_EQ(request.build(packet), ERR_CSP_NOT_INITIALIZED);
    EXPECT_EQ(text(packet), "old");
}

TEST(ConvertIdRequests, CspKindAnswerAndItsErrors) {
    CHttpGetCSPByConvertId request("AB12C7");
    EXPECT_EQ(request.getUrl(), "/api/client/getCSPByConvertId/AB12C7");
    qn::crypto::eSupportCP kind = CP_CRYPTOPRO;
    request.setResponse(blobOf(kMagic + le32(80)));
    ASSERT_EQ(request.decode(kind), 0);
    EXPECT_EQ(kind, CP_CRYPTOPRO_GOST2012_256);
    request.setResponse(blobOf(kMagic + le32(static_cast<unsigned>(-6))));
    ASSERT_EQ(request.decode(kind), 0);
    EXPECT_EQ(kind, qn::crypto::CP_RUTOKEN_GOST2012_256);

    kind = CP_CRYPTOPRO;
    request.setResponse(blobOf(kMagic + "error=" + le32(4)));
    EXPECT_EQ(request.decode(kind), ERR_WRONG_ENVELOPE);
    request.setResponse(blobOf(kMagic + "\x50\x00"));
    EXPECT_EQ(request.decode(kind), ERR_PACKET_DAMAGED);
    request.setResponse(blobOf("<html>"));
    EXPECT_EQ(request.decode(kind), ERR_UNKNOWN_HEADER);
    EXPECT_EQ(kind, CP_CRYPTOPRO);
}

class ConvertIdCard : public testutil::CspDirTest {};

TEST_F(ConvertIdCard, SignedCardIsCheckedWithTheHeaderKey) {
    auto ca2001 = newKey("ca2001", CP_CRYPTOPRO);
    ASSERT_TRUE(ca2001);
    CBlob packet;
    ASSERT_EQ(ht::signQnPacket(payloadOf(1, 3, 3, lp("CARD")), *ca2001, packet), 0);
    CHttpGetPacketOutByConvertId request("AB12C7");
    EXPECT_EQ(request.getUrl(), "/api/client/getPacketOutByConvertId/AB12C7");
    request.setResponse(packet);
    CBlob card;
    // Format 1: any requested kind is checked as its 2001 counterpart.
    ASSERT_EQ(request.decode(card, CP_CRYPTOPRO_GOST2012_256), 0);
    EXPECT_EQ(text(card), "CARD");
    EXPECT_EQ(request.getPackageType(), tesel::PT_CARD_FROM_CA);

    CBlob bad = packet;
    bad[bad.getSize() - 1] ^= 1;
    request.setResponse(bad);
    EXPECT_EQ(request.decode(card, CP_CRYPTOPRO), ERR_PACKET_INTEGRITY);
    request.setResponse(CBlob(packet.getData(), packet.getSize() - 70));
    EXPECT_EQ(request.decode(card, CP_CRYPTOPRO), ERR_PACKET_INTEGRITY);
}

TEST_F(ConvertIdCard, DamagedPayloadsAndKeys) {
    auto ca = newKey("ca2012", CP_CRYPTOPRO_GOST2012_256);
    ASSERT_TRUE(ca);
    CHttpGetPacketOutByConvertId request("X");
    CBlob packet, card = blobOf("unchanged");
    ASSERT_EQ(ht::signQnPacket(payloadOf(1, 3, 3, le32(500) + "short"), *ca, packet), 0);
    request.setResponse(packet);
    EXPECT_EQ(request.decode(card, CP_CRYPTOPRO_GOST2012_256), ERR_PACKET_DAMAGED);
    ASSERT_EQ(ht::signQnPacket(blobOf("tiny"), *ca, packet), 0);
    request.setResponse(packet);
    EXPECT_EQ(request.decode(card, CP_CRYPTOPRO_GOST2012_256), ERR_PACKET_DAMAGED);
    EXPECT_EQ(text(card), "unchanged");

    // A sender key that is no public key blob cannot be imported.
    CBlob forged;
    ASSERT_EQ(ht::createHeader(blobOf("not a key"), CBlob(), CBlob(), 2, forged), 0);
    forged.add(blobOf(std::string(80, 'x')));
    request.setResponse(forged);
    EXPECT_EQ(request.decode(card, CP_CRYPTOPRO_GOST2012_256), ERR_IMPORT_PEER_PUBLIC_KEY);
    request.setResponse(blobOf(kMagic + "error=" + le32(7)));
    EXPECT_EQ(request.decode(card, CP_CRYPTOPRO_GOST2012_256), ERR_ENVELOPE_ACTIVATED);
    request.setResponse(blobOf(kMagic + "error=" + le32(4)));
    EXPECT_EQ(request.decode(card, CP_CRYPTOPRO_GOST2012_256), ERR_WRONG_ENVELOPE);
}

// --- readers of client payloads

namespace {

CBlob cardBytes(const std::string& surname) {
    tesel::CClient c;
    c.setSurname(surname);
    c.setINN("7707083893");
    return c.PartnerInfoToBinary();
}

CBlob cspInfoBytes() {
    qn::crypto::UserCspInfo info;
    info.setCspType(CP_CRYPTOPRO_GOST2012_256);
    info.setCspVersion("5.0");
    CBlob b;
    info >> b;
    return b;
}

}  // namespace

TEST(PayloadReaders, RenewalReadsThreeBlobsForVersion1AndFourAfter) {
    const std::string three = lp("CERT") + lp(text(cardBytes("Orlov"))) + lp("P10");
    CBlob v1 = blobOf(three + lp(text(cspInfoBytes())));
    AddInfoProlongKey info;
    ASSERT_EQ(parseProlongClientCard(v1, 1, info), 0);
    EXPECT_EQ(text(info.userCert), "CERT");
    EXPECT_EQ(text(info.pkcs10), "P10");
    EXPECT_EQ(info.client.getSurname(), "Orlov");
    EXPECT_EQ(info.cspInfo.getCspType(), qn::crypto::CP_NONE);
    EXPECT_EQ(v1.getOffset(), three.size());

    CBlob v2 = blobOf(three + lp(text(cspInfoBytes())));
    ASSERT_EQ(parseProlongClientCard(v2, 2, info), 0);
    EXPECT_EQ(info.cspInfo.getCspType(), CP_CRYPTOPRO_GOST2012_256);
    EXPECT_EQ(info.cspInfo.getCspVersion(), "5.0");
    EXPECT_TRUE(v2.isCompleted());
}

TEST(PayloadReaders, RenewalRunningPastItsEndIsDamaged) {
    const std::string full = lp("CERT") + lp(text(cardBytes("Orlov"))) + lp("P10") + lp(text(cspInfoBytes()));
    AddInfoProlongKey info;
    info.userCert = blobOf("kept");
    for (std::size_t cut : {std::size_t(0), std::size_t(6), full.size() - 1}) {
        CBlob p = blobOf(full.substr(0, cut));
        EXPECT_EQ(parseProlongClientCard(p, 2, info), ERR_PACKET_DAMAGED) << cut;
    }
    CBlob badCsp = blobOf(lp("CERT") + lp(text(cardBytes("O"))) + lp("P10") + lp(le32(80) + le32(99)));
    EXPECT_EQ(parseProlongClientCard(badCsp, 2, info), ERR_PACKET_DAMAGED);
    CBlob badCard = blobOf(lp("CERT") + lp("not a card") + lp("P10"));
    EXPECT_EQ(parseProlongClientCard(badCard, 1, info), ERR_CARD_DAMAGED);
    EXPECT_EQ(text(info.userCert), "kept");
}

TEST(PayloadReaders, PartnerCard) {
    CBlob p = blobOf(lp(text(cardBytes("Volkov"))));
    AddInfoClientCard info;
    ASSERT_EQ(parsePartnerClientCard(p, info), 0);
    EXPECT_EQ(info.client.getSurname(), "Volkov");
    CBlob cut = blobOf(le32(1000) + "abc");
    EXPECT_EQ(parsePartnerClientCard(cut, info), ERR_PACKET_DAMAGED);
    CBlob junk = blobOf(lp("junk"));
    EXPECT_EQ(parsePartnerClientCard(junk, info), ERR_CARD_DAMAGED);
    EXPECT_EQ(info.client.getSurname(), "Volkov");
}
