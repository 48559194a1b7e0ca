#include "webpackets/CSignPacketWebPacket.h"

#include <utility>

#include "transport/PacketProtection.h"
#include "webpackets/ProtectCommand.h"

CSignPacketWebPacket::CSignPacketWebPacket(tesel::CBlob payload) : CWebPacket(std::move(payload), SIGN_PACKET_ANSWER) {}

int CSignPacketWebPacket::process(tesel::CBlob& reply) {
    reply = protectCommandReply(*this, m_payload, &qn::http_transport::signPacketInto);
    return 0;
}
