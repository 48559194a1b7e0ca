#include "webpackets/ControllerWebPackets.h"

#include <utility>

#include "app/Settings.h"
#include "core/AppInfo.h"
#include "crypto/CspAlgorithms.h"
#include "crypto/UserCspInfo.h"
#include "errors/eErrCodes.h"
#include "pki/RequestPKCS10.h"
#include "transport/CPacketOutRequest.h"
#include "transport/PacketProtection.h"
#include "transport/TransportServer.h"
#include "webpackets/ControllerClientQn.h"

using qn::crypto::Crypto1By1Connect;
using tesel::CBlob;

namespace {

constexpr unsigned kProlongVersion = 2;

}  // namespace

ControllerWebPackets& ControllerWebPackets::instance() {
    static ControllerWebPackets* controller = [] {
        auto* c = new ControllerWebPackets();
        c->init();
        return c;
    }();
    return *controller;
}

ControllerWebPackets::ControllerWebPackets() = default;

void ControllerWebPackets::init() {
    m_pki = &qn::crypto::ControllerPKIClient::instance();
    m_webCrypto = qn::crypto::ControllerWebCrypto::instance();
}

unsigned ControllerWebPackets::buildProlongKeyPacket(CBlob& packet) {
    return buildProlongKeyPacket(packet, m_webCrypto->getCrypto_2012());
}

unsigned ControllerWebPackets::buildProlongKeyPacket(CBlob& packet, std::shared_ptr<Crypto1By1Connect> newKey) {
    const std::shared_ptr<CPacket_PKCS10_Client_Base> current = getCurrentClientPacket();
    auto* prolong = dynamic_cast<CPacketProlongKey*>(current.get());
    if (!prolong) return ERR_INTERNAL;
    return buildProlongKeyPacket(packet, std::move(newKey), *prolong);
}

unsigned ControllerWebPackets::buildProlongKeyPacket(CBlob& packet, std::shared_ptr<Crypto1By1Connect> newKey,
                                                     CPacketProlongKey& renewal) {
    // Key and certificate of one selection, read as one.
    const qn::crypto::ControllerWebCrypto::UserSelection selection = m_webCrypto->getUserSelection();
    const std::shared_ptr<Crypto1By1Connect>& user = selection.connection;
    const qn::crypto::CertContextPtr cert = selection.cert ? selection.cert : m_pki->getUserCert();
    if (!newKey || !user) return ERR_CSP_NOT_INITIALIZED;
    if (!cert) return ERR_ADD_YOUR_CERTIFICATE;

    tesel::CClient card;
    qn::crypto::eSupportCP csp = qn::crypto::CP_NONE;
    std::string oldContainer;
    withClientPacket(renewal, [&](CPacket_PKCS10_Client_Base& p) {
        card = p.getClient();
        csp = p.getCSP();
        oldContainer = p.getContainerName();
    });

    tesel::RequestPKCS10 request;
    if (const int r = request.fillFromClient(card, csp)) return static_cast<unsigned>(r);
    CBlob pkcs10;
    if (const unsigned r = newKey->signAndEncodePkcs10(request, pkcs10)) return r;
    std::string unique;
    if (const unsigned r = newKey->getUniqueContainer(unique)) return r;
    withClientPacket(renewal, [&](CPacket_PKCS10_Client_Base&) { renewal.setNewContainer(unique); });
    const CBlob userCert(cert->pbCertEncoded, cert->cbCertEncoded);
    qn::crypto::UserCspInfo info;
    if (const unsigned r = newKey->getCspInfo(info)) return r;
    CBlob cspInfo;
    info >> cspInfo;
    const CBlob cardBytes = card.PartnerInfoToBinary();

    CBlob payload(CBlob::sizeOf(userCert) + CBlob::sizeOf(cardBytes) + CBlob::sizeOf(pkcs10) +
                  CBlob::sizeOf(cspInfo) + 16);
    payload.serialize(kProlongVersion);
    payload.serialize(static_cast<unsigned>(tesel::PT_PROLONG));
    payload.serialize(static_cast<unsigned>(tesel::QN_CLIENT));
    payload.serialize(tesel::getVersion());
    payload.serialize(&userCert);
    payload.serialize(&cardBytes);
    payload.serialize(&pkcs10);
    payload.serialize(&cspInfo);
    if (payload.isMalformed() || !payload.isCompleted()) return ERR_INTERNAL;
    if (const int r = qn::http_transport::encryptAndSign(payload, *user, packet)) return static_cast<unsigned>(r);
    recordRenewal(unique, Renewal{oldContainer, csp});
    return ERR_OK;
}

void ControllerWebPackets::recordRenewal(const std::string& newContainer, Renewal renewal) {
    std::lock_guard<std::mutex> lock(m_renewalMutex);
    m_renewals[newContainer] = std::move(renewal);
}

bool ControllerWebPackets::takeRenewal(const std::string& newContainer, Renewal& out) {
    std::lock_guard<std::mutex> lock(m_renewalMutex);
    const auto it = m_renewals.find(newContainer);
    if (it == m_renewals.end()) return false;
    out = std::move(it->second);
    m_renewals.erase(it);
    return true;
}

unsigned ControllerWebPackets::fetchAnswer(const std::string& uuid, CBlob& payload, tesel::PackageType* type) {
    CPacketOutRequest request(uuid);
    if (const int r = getTransportServer().send(request)) return static_cast<unsigned>(r);
    const std::shared_ptr<Crypto1By1Connect> user = m_webCrypto->getCrypto_2001();
    if (!user) return ERR_CSP_NOT_INITIALIZED;
    if (const int r = request.decode(payload, *user)) return static_cast<unsigned>(r);
    if (type) *type = request.getPackageType();
    return ERR_OK;
}

unsigned ControllerWebPackets::getUserCert(const std::string& uuid, CBlob& certificate) {
    CBlob payload;
    if (const unsigned r = fetchAnswer(uuid, payload)) return r;
    CPacketProlongKey answer;
    if (const int r = answer.deserializeServerAnswer(&payload)) return static_cast<unsigned>(r);
    certificate = answer.getUserCert();
    return ERR_OK;
}

unsigned ControllerWebPackets::loadUserCert(CPacketProlongKey& packet) {
    CBlob payload;
    tesel::PackageType type = tesel::PT_UNDEFINED;
    if (const unsigned r = fetchAnswer(packet.getServerUUID(), payload, &type)) return r;
    // Read as a renewal answer, any other answer would put its fields in the
    // wrong places.
    if (type != tesel::PT_PROLONG_ANSWER) return ERR_PACKET_DAMAGED;
    if (const int r = packet.deserializeServerAnswer(&payload)) return static_cast<unsigned>(r);
    std::shared_ptr<Crypto1By1Connect> newKey;
    if (const unsigned r = m_webCrypto->initNewContainer(packet.getNewContainer(), packet.getCSP(), &newKey)) return r;
    if (!newKey) return ERR_CONTAINER_OPEN;
    if (const unsigned r = qn::crypto::ControllerPKI::checkCertificateKey(packet.getUserCert(), *newKey)) return r;
    if (const unsigned r = newKey->addCertToContainer(packet.getUserCert())) return r;
    Renewal recorded;
    const bool ours = takeRenewal(packet.getNewContainer(), recorded) &&
                      recorded.oldContainer == packet.getContainerName() && recorded.csp == packet.getCSP() &&
                      recorded.oldContainer != packet.getNewContainer();
    if (ours && qn::crypto::getSupportCryptoInterface(recorded.csp) == 2) {
        Crypto1By1Connect::remove(recorded.oldContainer, recorded.csp);  // its result does not matter
    }
    return ControllerClientQn::addCertToPersonalStore(packet.getUserCert(), packet.getNewContainer(), packet.getCSP());
}
