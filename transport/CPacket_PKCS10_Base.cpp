#include "transport/CPacket_PKCS10_Base.h"

#include "errors/eErrCodes.h"

void CPacket_PKCS10_Base::setUserCert(tesel::CBlob* cert) { m_userCert = cert ? *cert : tesel::CBlob(); }

int CPacket_PKCS10_Base::deserialize(tesel::CBlob* answer) {
    if (!answer) return ERR_PACKET_DAMAGED;
    unsigned response = 0;
    tesel::CBlob cert;
    *answer >> response >> &cert;
    if (answer->isMalformed()) return ERR_PACKET_DAMAGED;
    cert.moveOffset(0);
    m_response = static_cast<tesel::eClientResponse>(response);
    m_userCert = std::move(cert);
    return ERR_OK;
}
