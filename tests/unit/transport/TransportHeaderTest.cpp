// The transport message header, key exchange header, permanent header and
// the simple request objects. Expected bytes are written out by hand.
#include <gtest/gtest.h>

#include <string>

#include "core/TextConvert.h"
#include "errors/eErrCodes.h"
#include "helpers/HttpFixture.h"
#include "transport/CGetCACertRequest.h"
#include "transport/CPacketOutRequest.h"
#include "transport/TransportServer.h"
#include "transport/common/CTransportServerRequest.h"
#include "transport/common/TransportHeader.h"

using qn::http_transport::KeyExchangeHeader;
using tesel::CBlob;
using testing_http::errorForm;
using testing_http::kMagic;
using testing_http::le32;

namespace {

CBlob blobOf(const std::string& s) {
    return CBlob(reinterpret_cast<const unsigned char*>(s.data()), static_cast<unsigned>(s.size()));
}

std::string text(const CBlob& b) {
    return std::string(reinterpret_cast<const char*>(b.getData()), b.getSize());
}

std::string lp(const std::string& bytes) { return le32(static_cast<unsigned>(bytes.size())) + bytes; }

const std::string kSender = "SENDER-KEY-0123456789";
const std::string kRecipient = "RECIPIENT-KEY";
const std::string kSerial = std::string("\x01\x02\x03", 3);

// Format 2 on the wire, written field by field.
const std::string kFormat2Wire = std::string("\x45\x8D\xFF\x32", 4) + le32(2) + lp(kSender) +
                                 lp(kRecipient) + lp(kSerial);

}  // namespace

TEST(ServerErrors, TableMapsEveryNumber) {
    const int expected[] = {22, 23, 24, 22, 26, 27, 29, 28, 30, 22, 25, 1, 19, 20};
    for (unsigned n = 0; n < 14; ++n) EXPECT_EQ(qn::http_transport::getServerErr(n), expected[n]) << n;
    EXPECT_EQ(qn::http_transport::getServerErr(14), 32);
    EXPECT_EQ(qn::http_transport::getServerErr(1000), 32);
    EXPECT_EQ(qn::http_transport::getServerErr(0xFFFFFFFFu), 32);
    EXPECT_EQ(CTransportServerRequest::getServerErr(6), 29);
}

TEST(ReadHeader, MagicAloneIsAnEmptyAnswer) {
    CBlob m = blobOf(kMagic);
    EXPECT_EQ(qn::http_transport::readHeader(m), 0);
    EXPECT_EQ(m.getOffset(), 13u);
    EXPECT_TRUE(m.isCompleted());
}

TEST(ReadHeader, PlainAnswerLeavesTheCursorBehindTheMagic) {
    CBlob m = blobOf(kMagic + le32(80));
    ASSERT_EQ(qn::http_transport::readHeader(m), 0);
    unsigned kind = 0;
    m >> kind;
    EXPECT_EQ(kind, 80u);
}

TEST(ReadHeader, ShortOrForeignMessagesAreUnknownHeaders) {
    for (const std::string& s : {std::string(), std::string("tesel.messag"), std::string("<html>404 Not Found</html>"),
                                 std::string("Tesel.message")}) {
        CBlob m = blobOf(s);
        EXPECT_EQ(qn::http_transport::readHeader(m), ERR_UNKNOWN_HEADER) << s;
    }
}

TEST(ReadHeader, ErrorFormGivesTheMappedCode) {
    for (unsigned n : {0u, 1u, 6u, 7u, 10u, 13u, 14u, 99u}) {
        CBlob m = blobOf(errorForm(n));
        EXPECT_EQ(qn::http_transport::readHeader(m), qn::http_transport::getServerErr(n)) << n;
    }
    CBlob ten = blobOf(errorForm(10));
    EXPECT_EQ(CTransportServerRequest::readHeader(ten), ERR_PACKET_TOO_LARGE);
}

TEST(ReadHeader, ErrorFormWithoutItsNumberIsAnUnknownHeader) {
    for (unsigned cut = 1; cut <= 4; ++cut) {
        const std::string full = errorForm(3);
        CBlob m = blobOf(full.substr(0, full.size() - cut));
        EXPECT_EQ(qn::http_transport::readHeader(m), ERR_UNKNOWN_HEADER) << cut;
    }
}

TEST(ReadHeader, FewerThanSixBytesAfterTheMagicAreNoErrorForm) {
    for (const std::string tail : {"e", "er", "err", "erro", "error"}) {
        CBlob m = blobOf(kMagic + tail);
        EXPECT_EQ(qn::http_transport::readHeader(m), 0) << tail;
        EXPECT_EQ(m.getOffset(), 13u);
    }
}

TEST(CheckErrorInHeader, SkipsTheMagicWithoutComparingIt) {
    EXPECT_EQ(qn::http_transport::checkErrorInHeader(blobOf("0123456789ABCerror=" + le32(4))), 26);
    EXPECT_EQ(qn::http_transport::checkErrorInHeader(blobOf("short")), ERR_UNKNOWN_HEADER);
    EXPECT_EQ(qn::http_transport::checkErrorInHeader(blobOf("0123456789AB")), ERR_UNKNOWN_HEADER);
    EXPECT_EQ(qn::http_transport::checkErrorInHeader(blobOf("0123456789ABC")), 0);
    EXPECT_EQ(qn::http_transport::checkErrorInHeader(blobOf("0123456789ABCerror")), 0);
    EXPECT_EQ(qn::http_transport::checkErrorInHeader(blobOf("0123456789ABCerror=\x01")),
              ERR_UNKNOWN_HEADER);
    EXPECT_EQ(qn::http_transport::checkErrorInHeader(blobOf("any file content, long enough")), 0);
}

TEST(CheckErrorInHeader, WorksOnACopyFromTheStart) {
    CBlob m = blobOf(errorForm(12));
    m.moveOffset(5);
    EXPECT_EQ(CTransportServerRequest::checkErrorInHeader(m), ERR_SERVER_ACCESS_DENIED);
    EXPECT_EQ(m.getOffset(), 5u);
}

TEST(KeyExchangeHeader, Format2IsWrittenFieldByField) {
    KeyExchangeHeader h;
    EXPECT_EQ(h.format, 2u);
    h.senderPublicKey = blobOf(kSender);
    h.recipientPublicKey = blobOf(kRecipient);
    h.recipientCertSerial = blobOf(kSerial);
    CBlob out = blobOf("old contents");
    ASSERT_EQ(h >> out, 0);
    EXPECT_EQ(text(out), kFormat2Wire);
}

TEST(KeyExchangeHeader, Format2DecodesAndStopsAtTheBody) {
    CBlob in = blobOf(kFormat2Wire + "BODY");
    KeyExchangeHeader h;
    ASSERT_EQ(KeyExchangeHeader::decode(in, h), 0);
    EXPECT_EQ(h.format, 2u);
    EXPECT_EQ(text(h.senderPublicKey), kSender);
    EXPECT_EQ(text(h.recipientPublicKey), kRecipient);
    EXPECT_EQ(text(h.recipientCertSerial), kSerial);
    EXPECT_EQ(in.getOffset(), kFormat2Wire.size());
}

TEST(KeyExchangeHeader, Format1RoundTripHasEmptyRecipientFields) {
    KeyExchangeHeader h;
    h.format = 1;
    h.senderPublicKey = blobOf(kSender);
    h.recipientPublicKey = blobOf("ignored");
    CBlob wire;
    ASSERT_EQ(h >> wire, 0);
    EXPECT_EQ(text(wire), lp(kSender));
    KeyExchangeHeader back;
    back.recipientPublicKey = blobOf("stale");
    ASSERT_EQ(KeyExchangeHeader::decode(wire, back), 0);
    EXPECT_EQ(back.format, 1u);
    EXPECT_EQ(text(back.senderPublicKey), kSender);
    EXPECT_TRUE(back.recipientPublicKey.isEmpty());
    EXPECT_TRUE(back.recipientCertSerial.isEmpty());
}

TEST(KeyExchangeHeader, OtherFormatNumberIsReadAsWrittenButNotWritten) {
    std::string wire = kFormat2Wire;
    wire.replace(4, 4, le32(7));
    CBlob in = blobOf(wire);
    KeyExchangeHeader h;
    ASSERT_EQ(KeyExchangeHeader::decode(in, h), 0);
    EXPECT_EQ(h.format, 7u);
    CBlob out = blobOf("untouched");
    EXPECT_EQ(h >> out, 1);
    EXPECT_EQ(text(out), "untouched");
}

TEST(KeyExchangeHeader, EveryTruncationIsAnUnknownHeader) {
    for (std::size_t n = 0; n < kFormat2Wire.size(); ++n) {
        CBlob in = blobOf(kFormat2Wire.substr(0, n));
        KeyExchangeHeader h;
        EXPECT_EQ(KeyExchangeHeader::decode(in, h), ERR_UNKNOWN_HEADER) << n;
        EXPECT_TRUE(h.senderPublicKey.isEmpty());
    }
    const std::string format1 = lp(kSender);
    for (std::size_t n = 0; n < format1.size(); ++n) {
        CBlob in = blobOf(format1.substr(0, n));
        KeyExchangeHeader h;
        EXPECT_EQ(KeyExchangeHeader::decode(in, h), ERR_UNKNOWN_HEADER) << n;
    }
    // A length field that claims far more than is there.
    CBlob huge = blobOf(le32(0xFFFFFFF0u) + "abc");
    KeyExchangeHeader h;
    EXPECT_EQ(KeyExchangeHeader::decode(huge, h), ERR_UNKNOWN_HEADER);
}

TEST(CreateHeader, MagicThenKeyHeader) {
    CBlob out;
    ASSERT_EQ(qn::http_transport::createHeader(blobOf(kSender), blobOf(kRecipient), blobOf(kSerial), 2, out), 0);
    EXPECT_EQ(text(out), kMagic + kFormat2Wire);
    ASSERT_EQ(qn::http_transport::createHeader(blobOf(kSender), blobOf(kRecipient), blobOf(kSerial), 1, out), 0);
    EXPECT_EQ(text(out), kMagic + lp(kSender));
    CBlob keep = blobOf("keep");
    EXPECT_EQ(qn::http_transport::createHeader(blobOf(kSender), CBlob(), CBlob(), 3, keep), 1);
    EXPECT_EQ(text(keep), "keep");
}

TEST(ReadCryptoHeader, HeaderThenBody) {
    CBlob m = blobOf(kMagic + kFormat2Wire + "BODY");
    KeyExchangeHeader h;
    ASSERT_EQ(qn::http_transport::readCryptoHeader(m, h), 0);
    EXPECT_EQ(text(h.senderPublicKey), kSender);
    EXPECT_EQ(m.remaining(), 4u);

    CBlob error = blobOf(errorForm(1));
    EXPECT_EQ(qn::http_transport::readCryptoHeader(error, h), ERR_REQUEST_NOT_REVIEWED);
    CBlob magicOnly = blobOf(kMagic);
    EXPECT_EQ(qn::http_transport::readCryptoHeader(magicOnly, h), ERR_UNKNOWN_HEADER);
    CBlob html = blobOf("<html>Bad Gateway</html>");
    EXPECT_EQ(qn::http_transport::readCryptoHeader(html, h), ERR_UNKNOWN_HEADER);
}

TEST(PermanentHeader, WireOrderDiffersFromDeclaredOrder) {
    CTransportServerRequest request(tesel::QN_CLIENT, tesel::PT_PKCS10, 101276, 2);
    CBlob payload;
    ASSERT_EQ(request.allocateMemory(payload, 4), 0);
    EXPECT_EQ(payload.getSize(), 20u);
    EXPECT_EQ(payload.getOffset(), 0u);
    request.writePermanentHeader(payload);
    payload << 0xABCDu;
    EXPECT_TRUE(payload.isCompleted());
    EXPECT_EQ(text(payload), le32(2) + le32(4) + le32(1) + le32(101276) + le32(0xABCD));

    payload.moveOffset(0);
    CTransportServerRequest read;
    ASSERT_EQ(read.readPermanentHeader(payload), 0);
    EXPECT_EQ(read.getVersion(), 2u);
    EXPECT_EQ(read.getPackageType(), tesel::PT_PKCS10);
    EXPECT_EQ(read.getRequesterType(), tesel::QN_CLIENT);
    EXPECT_EQ(read.getSenderVersion(), 101276u);

    payload.moveOffset(0);
    unsigned version = 0, sender = 0;
    tesel::PackageType type = tesel::PT_UNDEFINED;
    tesel::eQuorinType requester = tesel::QN_UNSPECIFIED;
    ASSERT_EQ(qn::http_transport::readPermanentHeader(payload, version, type, requester, sender), 0);
    EXPECT_EQ(version, 2u);
    EXPECT_EQ(type, tesel::PT_PKCS10);
    EXPECT_EQ(requester, tesel::QN_CLIENT);
    EXPECT_EQ(sender, 101276u);
}

TEST(PermanentHeader, ShortPayloadIsDamagedAndChangesNothing) {
    const std::string full = le32(1) + le32(5) + le32(3) + le32(7);
    for (std::size_t n = 0; n < full.size(); ++n) {
        CBlob payload = blobOf(full.substr(0, n));
        CTransportServerRequest read(tesel::QN_PLUGIN, tesel::PT_PROLONG, 9, 9);
        EXPECT_EQ(read.readPermanentHeader(payload), ERR_PACKET_DAMAGED) << n;
        EXPECT_EQ(read.getVersion(), 9u);
        EXPECT_EQ(read.getPackageType(), tesel::PT_PROLONG);
        EXPECT_EQ(read.getRequesterType(), tesel::QN_PLUGIN);
        EXPECT_EQ(read.getSenderVersion(), 9u);
    }
}

TEST(PacketSizeLimit, ProgramAndLibraryLimits) {
    getTransportServer();  // the program's transport layer is linked in
    EXPECT_EQ(qn::http_transport::getMaxPacketSize(), 10485760u);
    CTransportServerRequest request;
    EXPECT_EQ(request.isMoreMaxSize(CBlob(10485759)), 0);
    EXPECT_EQ(request.isMoreMaxSize(CBlob(10485760)), ERR_PACKET_TOO_LARGE);

    qn::http_transport::setMaxPacketSize(qn::http_transport::kLibraryMaxPacketSize);
    EXPECT_EQ(qn::http_transport::isMoreMaxSize(CBlob(0x4FFFFF)), 0);
    EXPECT_EQ(qn::http_transport::isMoreMaxSize(CBlob(0x500000)), ERR_PACKET_TOO_LARGE);
    qn::http_transport::setMaxPacketSize(qn::http_transport::kProgramMaxPacketSize);
}

TEST(Names, PackageTypesAndVariants) {
    const char* expected[] = {"Неопределён", "Карточка", "Ответ на регистрацию карточки",
                              "Карточка-ответ", "PKCS#10", "Сертификат", "Смена email",
                              "Продление", "Продление-Ответ", "Карточка КА",
                              "Ответ на карточку КА"};
    for (unsigned v = 0; v <= 10; ++v) {
        EXPECT_EQ(tesel::convertToUTF8(tesel::getPackageTypeName(static_cast<tesel::PackageType>(v))),
                  expected[v])
            << v;
    }
    EXPECT_EQ(tesel::getPackageTypeName(static_cast<tesel::PackageType>(11)), "");

    const char* variants[] = {"Quorin", "Quorin", "Quorin. Партнёр", "Quorin. УЦ", "Pellamo Plugin"};
    for (int v = 0; v <= 4; ++v) {
        EXPECT_EQ(tesel::convertToUTF8(tesel::eQuorinString[v]), variants[v]) << v;
        EXPECT_EQ(tesel::getQuorinName(static_cast<tesel::eQuorinType>(v)), tesel::eQuorinString[v]);
    }
    EXPECT_EQ(tesel::getQuorinName(static_cast<tesel::eQuorinType>(9)), "Quorin");
}

TEST(SimpleRequests, UrlsByVariantAndUuid) {
    EXPECT_EQ(CGetCACertRequest(qn::crypto::GOST_2001).getUrl(), "/api/etc/getCertCA");
    EXPECT_EQ(CGetCACertRequest(qn::crypto::GOST_2012).getUrl(), "/api/etc/getCertCA_2012");
    EXPECT_EQ(CGetCACertRequest(qn::crypto::GOST_UNKNOWN).getUrl(), "/api/etc/getCertCA_2012");
    CPacketOutRequest out("6f1c-uuid");
    EXPECT_EQ(out.getUrl(), "/api/getPacketOutByUuid/6f1c-uuid");
    EXPECT_EQ(out.getType(), HTTP_GET);
}

TEST(SimpleRequests, CACertificateIsTheWholeBody) {
    testing_http::HttpFixture server;
    const std::string der("\x30\x82\x01\x0A\x02\x01\x00", 7);
    server.route("/api/etc/getCertCA_2012", der);
    CHttpConnection c(testing_http::HttpFixture::host(), server.port());
    CGetCACertRequest request(qn::crypto::GOST_2012);
    ASSERT_EQ(c.send(request), 0);
    CBlob certificate;
    ASSERT_EQ(request.decode(certificate), 0);
    EXPECT_EQ(text(certificate), der);
}
