#include "webpackets/CLoadReleasedCertToContainerWebPacket.h"

#include <utility>

#include "core/TextConvert.h"
#include "webpackets/ControllerWebPackets.h"

CLoadReleasedCertToContainerWebPacket::CLoadReleasedCertToContainerWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), LOAD_RELEASED_CERT_TO_CONTAINER_ANSWER) {}

int CLoadReleasedCertToContainerWebPacket::process(tesel::CBlob& reply) {
    std::string uuid;
    std::string oldName;
    std::string newName;
    int kind = 0;
    m_payload.deserialize(&uuid);
    m_payload.deserialize(&oldName);
    m_payload.deserialize(&newName);
    m_payload.deserialize(kind);
    if (replyIfMalformed(reply)) return 0;
    CPacketProlongKey packet;
    packet.setServerUUID(uuid);
    packet.setContainerName(tesel::convertFromUTF8(oldName));
    packet.setNewContainer(tesel::convertFromUTF8(newName));
    packet.setCSP(static_cast<qn::crypto::eSupportCP>(kind));
    reply = codeAnswer(static_cast<int>(ControllerWebPackets::instance().loadUserCert(packet)));
    return 0;
}
