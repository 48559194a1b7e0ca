#include "webpackets/CUploadCertToContainerWebPacket.h"

#include <utility>

#include "core/TextConvert.h"
#include "webpackets/ControllerClientQn.h"

CUploadCertToContainerWebPacket::CUploadCertToContainerWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), UPLOAD_CERT_TO_CONTAINER_ANSWER) {}

int CUploadCertToContainerWebPacket::process(tesel::CBlob& reply) {
    tesel::CBlob certificate;
    std::string container;
    int kind = 0;
    m_payload.deserialize(&certificate);
    m_payload.deserialize(&container);
    m_payload.deserialize(kind);
    if (replyIfMalformed(reply)) return 0;
    const unsigned r = ControllerClientQn::instance().uploadCertToContainer(
        certificate, tesel::convertFromUTF8(container), static_cast<qn::crypto::eSupportCP>(kind));
    reply = codeAnswer(static_cast<int>(r));
    return 0;
}
