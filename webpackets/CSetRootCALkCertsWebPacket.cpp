#include "webpackets/CSetRootCALkCertsWebPacket.h"

#include <utility>

#include "app/Settings.h"
#include "errors/eErrCodes.h"

CSetRootCALkCertsWebPacket::CSetRootCALkCertsWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), SET_ROOT_CA_LK_CERTS_ANSWER) {}

int CSetRootCALkCertsWebPacket::process(tesel::CBlob& reply) {
    tesel::CBlob certs;
    m_payload.deserialize(&certs);
    if (replyIfMalformed(reply)) return 0;
    setRootCACerts(std::move(certs));
    reply = codeAnswer(ERR_OK);
    return 0;
}
