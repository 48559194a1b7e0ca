#include "webpackets/CEncryptSignWebPacket.h"

#include <utility>

#include "transport/PacketProtection.h"
#include "webpackets/ProtectCommand.h"

CEncryptSignWebPacket::CEncryptSignWebPacket(tesel::CBlob payload) : CWebPacket(std::move(payload), ENCRYPT_SIGN_ANSWER) {}

int CEncryptSignWebPacket::process(tesel::CBlob& reply) {
    reply = protectCommandReply(*this, m_payload, &qn::http_transport::encryptSignInto);
    return 0;
}
