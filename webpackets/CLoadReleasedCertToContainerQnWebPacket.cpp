#include "webpackets/CLoadReleasedCertToContainerQnWebPacket.h"

#include <utility>

#include "core/TextConvert.h"
#include "webpackets/ControllerClientQn.h"

CLoadReleasedCertToContainerQnWebPacket::CLoadReleasedCertToContainerQnWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), LOAD_RELEASED_CERT_TO_CONTAINER_QN_ANSWER) {}

int CLoadReleasedCertToContainerQnWebPacket::process(tesel::CBlob& reply) {
    std::string uuid;
    std::string container;
    int kind = 0;
    m_payload.deserialize(&uuid);
    m_payload.deserialize(&container);
    m_payload.deserialize(kind);
    if (replyIfMalformed(reply)) return 0;
    const unsigned r = ControllerClientQn::instance().loadReleasedCert(uuid, tesel::convertFromUTF8(container),
                                                                      static_cast<qn::crypto::eSupportCP>(kind));
    reply = codeAnswer(static_cast<int>(r));
    return 0;
}
