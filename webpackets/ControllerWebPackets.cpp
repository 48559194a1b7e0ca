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
    const std::shared_ptr<Crypto1By1Connect> user = m_webCrypto->getCrypto_2001();
    const qn::crypto::CertContextPtr cert = m_pki->getUserCert();
    if (!newKey || !user) return ERR_CSP_NOT_INITIALIZED;
    if (!cert) return ERR_ADD_YOUR_CERTIFICATE;

    tesel::CClient card;
    qn::crypto::eSupportCP csp = qn::crypto::CP_NONE;
    withCurrentClientPacket([&](CPacket_PKCS10_Client_Base& p) {
        if (&p != current.get()) return;
        card = p.getClient();
        csp = p.getCSP();
    });

    tesel::RequestPKCS10 request;
    if (const int r = request.fillFromClient(card, csp)) return static_cast<unsigned>(r);
    CBlob pkcs10;
    if (const unsigned r = newKey->signAndEncodePkcs10(request, pkcs10)) return r;
    std::string unique;
    if (const unsigned r = newKey->getUniqueContainer(unique)) return r;
    withCurrentClientPacket([&](CPacket_PKCS10_Client_Base& p) {
        if (&p == current.get()) prolong->setNewContainer(unique);
    });
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
    return static_cast<unsigned>(qn::http_transport::encryptAndSign(payload, *user, packet));
}

unsigned ControllerWebPackets::fetchAnswer(const std::string& uuid, CBlob& payload) {
    CPacketOutRequest request(uuid);
    if (const int r = getTransportServer().send(request)) return static_cast<unsigned>(r);
    const std::shared_ptr<Crypto1By1Connect> user = m_webCrypto->getCrypto_2001();
    if (!user) return ERR_CSP_NOT_INITIALIZED;
    return static_cast<unsigned>(request.decode(payload, *user));
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
    if (const unsigned r = fetchAnswer(packet.getServerUUID(), payload)) return r;
    if (const int r = packet.deserializeServerAnswer(&payload)) return static_cast<unsigned>(r);
    std::shared_ptr<Crypto1By1Connect> newKey;
    if (const unsigned r = m_webCrypto->initNewContainer(packet.getNewContainer(), packet.getCSP(), &newKey)) return r;
    if (!newKey) return ERR_CONTAINER_OPEN;
    if (const unsigned r = newKey->addCertToContainer(packet.getUserCert())) return r;
    if (qn::crypto::getSupportCryptoInterface(packet.getCSP()) == 2) {
        Crypto1By1Connect::remove(packet.getContainerName(), packet.getCSP());  // its result does not matter
    }
    return ControllerClientQn::addCertToPersonalStore(packet.getUserCert(), packet.getNewContainer(), packet.getCSP());
}
