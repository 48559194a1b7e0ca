#include "webpackets/CSetCertStoreWebPacket.h"

#include <utility>

#include "crypto/ControllerPKIClient.h"
#include "errors/eErrCodes.h"

CSetCertStoreWebPacket::CSetCertStoreWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), SET_CERT_STORE_ANSWER) {}

int CSetCertStoreWebPacket::process(tesel::CBlob& reply) {
    int store = 0;
    m_payload.deserialize(store);
    if (replyIfMalformed(reply)) return 0;
    qn::crypto::ControllerPKIClient::instance().setCertStore(static_cast<tesel::eCertStore>(store));
    reply = codeAnswer(ERR_OK);
    return 0;
}
