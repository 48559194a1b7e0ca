// The start of a renewal, apart from the rest of the controller: it is the
// one step that reads the card from the selected certificate.
#include "app/Settings.h"
#include "errors/eErrCodes.h"
#include "webpackets/ControllerWebPackets.h"

unsigned ControllerWebPackets::createProlongKeyPacket(std::shared_ptr<CPacketProlongKey>* out) {
    std::shared_ptr<CPacketProlongKey> packet = createProlongPacket();
    if (out) *out = packet;
    const qn::crypto::CertContextPtr cert = m_pki->getUserCert();
    if (!cert) return ERR_ADD_YOUR_CERTIFICATE;
    unsigned r = ERR_OK;
    withCurrentClientPacket([&](CPacket_PKCS10_Client_Base& current) {
        if (&current != packet.get()) return;  // another renewal started meanwhile
        current.setCSP(getCurrentCSP());
        current.setContainerName(getCurrentContainer());
        r = loadCardFromCert(cert.get(), current.getClient());
    });
    return r;
}
