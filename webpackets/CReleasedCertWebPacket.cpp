#include "webpackets/CReleasedCertWebPacket.h"

#include <utility>

#include "errors/eErrCodes.h"
#include "webpackets/ControllerWebPackets.h"

CReleasedCertWebPacket::CReleasedCertWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), RELEASED_CERT_ANSWER) {}

int CReleasedCertWebPacket::process(tesel::CBlob& reply) {
    std::string uuid;
    m_payload.deserialize(&uuid);
    if (replyIfMalformed(reply)) return 0;
    tesel::CBlob certificate;
    const unsigned r = ControllerWebPackets::instance().getUserCert(uuid, certificate);
    tesel::CBlob answer = codeAnswer(static_cast<int>(r));
    if (r == ERR_OK) answer.append(certificate);
    reply = std::move(answer);
    return 0;
}
