// The regional abonent registration packet: its payload as the CA reads it
// after opening, and the size limit of the protected packet.
#include <gtest/gtest.h>

#include "core/AppInfo.h"
#include "crypto/CspTestSupport.h"
#include "errors/eErrCodes.h"
#include "transport/CHttpVedevaRegAbonentRequest.h"
#include "transport/PacketProtection.h"
#include "transport/PacketTestSupport.h"
#include "transport/buildVedevaRegAbonentRequest.h"
#include "transport/common/KeyExchangeHeader.h"
#include "transport/common/TransportHeader.h"

using namespace packets_test;
namespace ht = qn::http_transport;

namespace {

std::string openAt(const CBlob& packet, Crypto1By1Connect& ca) {
    CBlob m = packet;
    ht::KeyExchangeHeader h;
    EXPECT_EQ(ht::readCryptoHeader(m, h), 0);
    EXPECT_EQ(ht::decryptPacket(m, ca), 0);
    return text(m);
}

class RegionalPacket : public testutil::CspDirTest {
protected:
    void SetUp() override {
        CspDirTest::SetUp();
        keys = pairOf(qn::crypto::CP_CRYPTOPRO, "reg");  // a: the user's 2001 key, b: the CA
        ASSERT_TRUE(keys.a && keys.b);
    }
    KeyPair keys;
};

}  // namespace

TEST_F(RegionalPacket, FieldsInOrderBehindTheHeader) {
    tesel::setVersion(101276);
    CBlob packet;
    ASSERT_EQ(buildVedevaRegAbonentRequest(blobOf("CSP"), blobOf("CARD"), blobOf("P10"), "text", *keys.a, packet), 0);
    EXPECT_EQ(openAt(packet, *keys.b),
              le32(2) + le32(9) + le32(1) + le32(101276) + lp("CSP") + lp("CARD") + lp("P10") + lp("text"));

    // Empty parts keep their length fields.
    ASSERT_EQ(buildVedevaRegAbonentRequest(CBlob(), CBlob(), CBlob(), "", *keys.a, packet), 0);
    EXPECT_EQ(openAt(packet, *keys.b), le32(2) + le32(9) + le32(1) + le32(101276) + le32(0) + le32(0) + le32(0) + le32(0));

    CHttpVedevaRegAbonentRequest request(blobOf("C"), blobOf("D"), blobOf("P"), "t", *keys.a);
    std::vector<std::string> headers;
    EXPECT_EQ(request.build(packet, headers), 0);
    EXPECT_TRUE(headers.empty());
}

TEST_F(RegionalPacket, RefusedAtTheSizeLimitAndWithoutAProvider) {
    CBlob packet;
    ASSERT_EQ(buildVedevaRegAbonentRequest(CBlob(100), CBlob(), CBlob(), "", *keys.a, packet), 0);
    const unsigned overhead = packet.getSize() - 100;
    // A small limit in place of the program's 10 MiB, so the test stays quick.
    struct LimitGuard {
        unsigned saved = ht::getMaxPacketSize();
        ~LimitGuard() { ht::setMaxPacketSize(saved); }
    } guard;
    const unsigned limit = 64 * 1024;
    ht::setMaxPacketSize(limit);

    CBlob out = blobOf("unchanged");
    EXPECT_EQ(buildVedevaRegAbonentRequest(CBlob(), CBlob(limit - overhead), CBlob(), "", *keys.a, out),
              ERR_PACKET_TOO_LARGE);
    EXPECT_EQ(text(out), "unchanged");
    EXPECT_EQ(buildVedevaRegAbonentRequest(CBlob(), CBlob(limit - overhead - 1), CBlob(), "", *keys.a, out), 0);
    EXPECT_EQ(out.getSize(), limit - 1);

    Crypto1By1Connect empty;
    EXPECT_EQ(buildVedevaRegAbonentRequest(CBlob(), CBlob(), CBlob(), "", empty, out), ERR_CSP_NOT_INITIALIZED);
}
