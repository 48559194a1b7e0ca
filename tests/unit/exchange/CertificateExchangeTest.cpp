// Certificate requests and renewals through the local CA peer: a request
// packet built by CHttpRegisterPKCS10Request is posted, the answer fetched
// with CPacketOutRequest and opened, and the released certificate parsed and
// installed; the envelope checks; a rejected request; a renewal packet
// opened by the peer and answered.
#include <gtest/gtest.h>

#include "PeerFixture.h"
#include "client/CClient.h"
#include "crypto/ControllerPKIClient.h"
#include "crypto/UserCspInfo.h"
#include "pki/CCertObject.h"
#include "pki/RequestPKCS10.h"
#include "transport/CHttpRegisterPKCS10Request.h"
#include "transport/CPacketOutRequest.h"
#include "transport/CPacketProlongKey.h"
#include "transport/CPacket_PKCS10_Client.h"
#include "transport/PacketProtection.h"
#include "transport/TransportServer.h"
#include "transport/PayloadReaders.h"
#include "transport/common/CTransportServerRequest.h"
#include "transport/common/TransportHeader.h"

using namespace exchange_test;
using qn::crypto::CP_CRYPTOPRO;
using qn::crypto::CP_CRYPTOPRO_GOST2012_256;

namespace {

const std::string kSurnameCp1251 = "\xC8\xE2\xE0\xED\xEE\xE2";  // "Иванов"

tesel::CClient applicant() {
    tesel::CClient c;
    c.setClientType(tesel::TS_NATURAL_PERSON);
    c.setSurname(kSurnameCp1251);
    c.setName("Ivan");
    c.setINN("500100732259");
    c.setSNILS("11223344595");
    c.setEmail("ivan@example.org");
    c.getAddress().setRegion("77");
    return c;
}

CBlob pkcs10Of(Crypto1By1Connect& key, eSupportCP kind) {
    tesel::RequestPKCS10 request;
    EXPECT_EQ(request.fillFromClient(applicant(), kind), 0);
    CBlob der;
    EXPECT_EQ(key.signAndEncodePkcs10(request, der), 0u);
    return der;
}

CBlob cspInfoOf(const Crypto1By1Connect& key) {
    qn::crypto::UserCspInfo info;
    EXPECT_EQ(key.getCspInfo(info), 0u);
    CBlob out;
    info >> out;
    return out;
}

// Posts the request; the UUID, or "" with the transport header's code in *code.
std::string post(PeerProcess& peer, CHTTPPostRequest& request, int* code = nullptr) {
    CHttpConnection c = peer.connection();
    EXPECT_EQ(c.send(request), 0);
    CBlob m = request.getResponse();
    const int r = qn::http_transport::readHeader(m);
    if (code) *code = r;
    return uuidOf(request.getResponse());
}

// Key value bytes of a public key blob (behind the parameters).
std::string keyValue(const CBlob& blob) { return text(blob).substr(blob.getSize() - 64); }

class CertificateExchange : public PeerSuite<CertificateExchange, ::testing::TestWithParam<eSupportCP>> {};

// A certificate released for a new key through the whole exchange.
struct Released {
    std::unique_ptr<Crypto1By1Connect> key;
    CBlob certificate;
};

Released requestCertificate(PeerProcess& peer, eSupportCP kind, const std::string& container,
                            const std::string& envelope) {
    Released out;
    out.key = newPairedKey(peer, container, kind);
    if (!out.key) return out;
    peer.addEnvelope(envelope, "PIN12345", kind, applicant().PartnerInfoToBinary());
    CHttpRegisterPKCS10Request request(pkcs10Of(*out.key, kind), envelope, "PIN12345", cspInfoOf(*out.key),
                                       *out.key);
    const std::string uuid = post(peer, request);
    EXPECT_EQ(uuid.size(), 36u);
    CBlob answer;
    EXPECT_EQ(fetchAnswer(peer, uuid, *out.key, answer), 0);
    CPacket_PKCS10_Client packet;
    EXPECT_EQ(packet.deserializeServerAnswer(&answer), 0);
    EXPECT_EQ(packet.getResponse(), tesel::CLIENT_RESPONSE_APPROVED);
    out.certificate = packet.getUserCert();
    return out;
}

}  // namespace

TEST_P(CertificateExchange, RequestIsPostedAnsweredAndTheCertificateInstalled) {
    const eSupportCP kind = GetParam();
    auto key = newPairedKey(*peer, "request" + std::to_string(kind), kind);
    ASSERT_TRUE(key);
    const std::string envelope = "REQ" + std::to_string(kind);
    peer->addEnvelope(envelope, "PIN12345", kind, applicant().PartnerInfoToBinary());

    const CBlob pkcs10 = pkcs10Of(*key, kind);
    ASSERT_FALSE(pkcs10.isEmpty());
    CHttpRegisterPKCS10Request request(pkcs10, envelope, "PIN12345", cspInfoOf(*key), *key);
    EXPECT_EQ(request.getUrl(), "/api/client/setRequestToCert");
    EXPECT_EQ(request.getVersion(), 2u);
    EXPECT_EQ(request.getPackageType(), tesel::PT_PKCS10);
    EXPECT_EQ(request.getRequesterType(), tesel::QN_CLIENT);
    const std::string uuid = post(*peer, request);
    ASSERT_EQ(uuid.size(), 36u);

    CBlob answer;
    CPacketOutRequest out(uuid);
    CHttpConnection c = peer->connection();
    ASSERT_EQ(c.send(out), 0);
    ASSERT_EQ(out.decode(answer, *key), 0);
    EXPECT_EQ(out.getPackageType(), tesel::PT_CERTIFICATE);
    EXPECT_EQ(out.getRequesterType(), tesel::QN_CA);
    CPacket_PKCS10_Client packet;
    ASSERT_EQ(packet.deserializeServerAnswer(&answer), 0);
    EXPECT_TRUE(packet.isResponsed());
    EXPECT_EQ(packet.getResponse(), tesel::CLIENT_RESPONSE_APPROVED);
    const CBlob cert = packet.getUserCert();
    ASSERT_FALSE(cert.isEmpty());

    // The released certificate: the applicant's subject, the new key.
    const CERT_CONTEXT* context = nullptr;
    ASSERT_EQ(qn::crypto::CryptoBase::blobToCertificate(cert, &context), 0u);
    CCertObject parsed;
    parsed.init();
    ASSERT_EQ(parsed.parseCertificate(context), 0u);
    EXPECT_EQ(parsed.getSubjectAttr(tesel::OID_SURNAME), kSurnameCp1251);
    EXPECT_EQ(parsed.getSubjectAttr(tesel::OID_INN), "500100732259");
    EXPECT_EQ(parsed.getIssuerAttr(tesel::OID_COMMON_NAME).rfind("Pellamo Test CA GOST ", 0), 0u);
    CBlob certKey, ownKey;
    EXPECT_EQ(qn::crypto::CryptoBase::publicKeyInfoFromCert(context, certKey), 0u);
    ASSERT_EQ(key->getPublicKey(ownKey), 0u);
    EXPECT_EQ(keyValue(certKey), keyValue(ownKey));
    CertFreeCertificateContext(context);
    EXPECT_EQ(key->addCertToContainer(cert), 0u);

    // The same answer, handed over whole by the page.
    CBlob whole;
    ASSERT_EQ(qn::http_transport::decryptPacketOut(out.getResponse(), whole, *key), 0);
    unsigned version = 0, senderVersion = 0;
    tesel::PackageType type{};
    tesel::eQuorinType requester{};
    ASSERT_EQ(qn::http_transport::readPermanentHeader(whole, version, type, requester, senderVersion), 0);
    EXPECT_EQ(type, tesel::PT_CERTIFICATE);

    // The envelope is used up now.
    CHttpRegisterPKCS10Request again(pkcs10, envelope, "PIN12345", cspInfoOf(*key), *key);
    int code = 0;
    EXPECT_EQ(post(*peer, again, &code), "");
    EXPECT_EQ(code, ERR_ENVELOPE_ACTIVATED);
}

TEST_P(CertificateExchange, EnvelopeAndPasswordAreChecked) {
    const eSupportCP kind = GetParam();
    auto key = newPairedKey(*peer, "checks" + std::to_string(kind), kind);
    ASSERT_TRUE(key);
    const CBlob pkcs10 = pkcs10Of(*key, kind);
    const std::string envelope = "CHK" + std::to_string(kind);
    peer->addEnvelope(envelope, "RIGHT123", kind, applicant().PartnerInfoToBinary());
    int code = 0;
    CHttpRegisterPKCS10Request wrongPassword(pkcs10, envelope, "WRONG123", cspInfoOf(*key), *key);
    EXPECT_EQ(post(*peer, wrongPassword, &code), "");
    EXPECT_EQ(code, ERR_SERVER_ACCESS_DENIED);
    CHttpRegisterPKCS10Request unknown(pkcs10, "NOENV1", "RIGHT123", cspInfoOf(*key), *key);
    EXPECT_EQ(post(*peer, unknown, &code), "");
    EXPECT_EQ(code, ERR_WRONG_ENVELOPE);
}

TEST_P(CertificateExchange, RequestForAnotherKeyIsRejectedWithoutCertificate) {
    const eSupportCP kind = GetParam();
    auto key = newPairedKey(*peer, "signer" + std::to_string(kind), kind);
    auto other = newPairedKey(*peer, "other" + std::to_string(kind), kind);
    ASSERT_TRUE(key && other);
    const std::string envelope = "OTH" + std::to_string(kind);
    peer->addEnvelope(envelope, "PIN12345", kind, applicant().PartnerInfoToBinary());
    // The request is signed by one key, the packet by another.
    CHttpRegisterPKCS10Request request(pkcs10Of(*other, kind), envelope, "PIN12345", cspInfoOf(*key), *key);
    const std::string uuid = post(*peer, request);
    ASSERT_EQ(uuid.size(), 36u);
    CBlob answer;
    ASSERT_EQ(fetchAnswer(*peer, uuid, *key, answer), 0);
    CPacket_PKCS10_Client packet;
    ASSERT_EQ(packet.deserializeServerAnswer(&answer), 0);
    EXPECT_NE(packet.getResponse(), tesel::CLIENT_RESPONSE_APPROVED);
    EXPECT_TRUE(packet.isResponsed());
    EXPECT_TRUE(packet.getUserCert().isEmpty());
}

TEST_P(CertificateExchange, RenewalIsOpenedByThePeerAndAnswered) {
    const eSupportCP kind = GetParam();
    Released old = requestCertificate(*peer, kind, "old" + std::to_string(kind), "REN" + std::to_string(kind));
    ASSERT_TRUE(old.key);
    ASSERT_FALSE(old.certificate.isEmpty());
    auto renewed = newPairedKey(*peer, "new" + std::to_string(kind), kind);
    ASSERT_TRUE(renewed);

    // The renewal payload: the old certificate, the card, the new key's
    // request and its CSP information; signed with the old key for the CA.
    const CBlob card = applicant().PartnerInfoToBinary();
    const CBlob pkcs10 = pkcs10Of(*renewed, kind);
    const CBlob csp = cspInfoOf(*renewed);
    CTransportServerRequest header(tesel::QN_CLIENT, tesel::PT_PROLONG, 101276, 2);
    CBlob payload;
    ASSERT_EQ(header.allocateMemory(payload, CBlob::sizeOf(old.certificate) + CBlob::sizeOf(card) +
                                                 CBlob::sizeOf(pkcs10) + CBlob::sizeOf(csp)),
              0);
    header.writePermanentHeader(payload);
    payload << old.certificate << card << pkcs10 << csp;
    ASSERT_FALSE(payload.isMalformed());

    // Read back as the packet commands read it.
    CBlob readBack = payload;
    readBack.moveOffset(16);
    AddInfoProlongKey info;
    ASSERT_EQ(parseProlongClientCard(readBack, 2, info), 0);
    EXPECT_EQ(info.userCert, old.certificate);
    EXPECT_EQ(info.pkcs10, pkcs10);
    EXPECT_EQ(info.client.getSurname(), kSurnameCp1251);

    CBlob packet;
    ASSERT_EQ(qn::http_transport::encryptAndSign(payload, *old.key, packet), 0);
    RawPost renewal("/api/client/setRequestProlongKey", packet);
    const std::string uuid = post(*peer, renewal);
    ASSERT_EQ(uuid.size(), 36u);
    CBlob answer;
    ASSERT_EQ(fetchAnswer(*peer, uuid, *old.key, answer), 0);
    CPacketProlongKey prolong;
    EXPECT_EQ(prolong.getPackageType(), tesel::PT_PROLONG);
    ASSERT_EQ(prolong.deserializeServerAnswer(&answer), 0);
    EXPECT_EQ(prolong.getResponse(), tesel::CLIENT_RESPONSE_APPROVED);
    EXPECT_FALSE(prolong.getMessage().empty());
    const CBlob newCert = prolong.getUserCert();
    ASSERT_FALSE(newCert.isEmpty());
    EXPECT_EQ(renewed->addCertToContainer(newCert), 0u);

    // A renewal signed by a key without a certificate of this CA is refused.
    CBlob strangerPacket;
    ASSERT_EQ(qn::http_transport::encryptAndSign(payload, *renewed, strangerPacket), 0);
    RawPost stranger("/api/client/setRequestProlongKey", strangerPacket);
    int code = 0;
    EXPECT_EQ(post(*peer, stranger, &code), "");
    EXPECT_EQ(code, ERR_SERVER_ACCESS_DENIED);
}

INSTANTIATE_TEST_SUITE_P(BothGenerations, CertificateExchange,
                         ::testing::Values(CP_CRYPTOPRO, CP_CRYPTOPRO_GOST2012_256),
                         [](const ::testing::TestParamInfo<eSupportCP>& i) {
                             return "Kind" + std::to_string(i.param);
                         });

// The program's own pairing path: the PKI controller fetches the CA
// certificate from the transport server connection (here the peer) and
// pairs the connection; the answer to a request then opens with it.
TEST_F(CertificateExchange, ProgramPairingWithTheCaWorksAgainstThePeer) {
    getTransportServer().setHost("http://127.0.0.1");
    getTransportServer().setPort(peer->port());
    for (const eSupportCP kind : {CP_CRYPTOPRO, CP_CRYPTOPRO_GOST2012_256}) {
        Crypto1By1Connect* raw = nullptr;
        ASSERT_EQ(Crypto1By1Connect::create("pki" + std::to_string(kind), kind, &raw), 0u);
        std::unique_ptr<Crypto1By1Connect> key(raw);
        qn::crypto::ControllerPKIClient pki;
        ASSERT_EQ(pki.loadlCertCA(*key), 0u) << kind;
        const std::string envelope = "PKI" + std::to_string(kind);
        peer->addEnvelope(envelope, "PIN12345", kind, applicant().PartnerInfoToBinary());
        CHttpRegisterPKCS10Request request(pkcs10Of(*key, kind), envelope, "PIN12345", cspInfoOf(*key), *key);
        const std::string uuid = post(*peer, request);
        ASSERT_EQ(uuid.size(), 36u);
        CPacketOutRequest answer(uuid);
        ASSERT_EQ(getTransportServer().send(answer), 0);
        CBlob payload;
        ASSERT_EQ(answer.decode(payload, *key), 0) << kind;
        CPacket_PKCS10_Client packet;
        ASSERT_EQ(packet.deserializeServerAnswer(&payload), 0);
        EXPECT_EQ(packet.getResponse(), tesel::CLIENT_RESPONSE_APPROVED);
    }
    getTransportServer().setHost("");
    getTransportServer().setPort(0);
}
