#include "transport/CPacketProlongKey.h"

#include "errors/eErrCodes.h"

CPacketProlongKey::CPacketProlongKey() { setPackageType(tesel::PT_PROLONG); }

int CPacketProlongKey::deserializeServerAnswer(tesel::CBlob* answer) {
    if (!answer) return ERR_PACKET_DAMAGED;
    unsigned response = 0;
    std::string message;
    tesel::CBlob cert;
    *answer >> response >> &message >> &cert;
    if (answer->isMalformed()) return ERR_PACKET_DAMAGED;
    cert.moveOffset(0);
    setResponse(static_cast<tesel::eClientResponse>(response));
    m_message = std::move(message);
    setUserCert(&cert);
    return ERR_OK;
}
