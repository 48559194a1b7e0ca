#include "webpackets/CSignPacketWebPacket.h"

#include <utility>

#include "errors/eErrCodes.h"
#include "transport/PacketProtection.h"
#include "webpackets/BlobReply.h"

CSignPacketWebPacket::CSignPacketWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), SIGN_PACKET_ANSWER) {}

int CSignPacketWebPacket::process(tesel::CBlob& reply) {
    tesel::CBlob headerBytes;
    tesel::CBlob payload;
    m_payload.deserialize(&headerBytes);
    m_payload.deserialize(&payload);
    if (m_payload.isMalformed()) {
        reply = blobAnswer(*this, ERR_INTERNAL, tesel::CBlob());
        return 0;
    }
    // A header that does not decode stays empty and names no key.
    qn::http_transport::KeyExchangeHeader header;
    qn::http_transport::KeyExchangeHeader::decode(headerBytes, header);
    tesel::CBlob packet;
    const int r = qn::http_transport::signPacket(payload, packet, header);
    if (r != ERR_OK) packet.clear();
    reply = blobAnswer(*this, r, packet);
    return 0;
}
