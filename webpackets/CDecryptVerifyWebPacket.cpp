#include "webpackets/CDecryptVerifyWebPacket.h"

#include <utility>

#include "errors/eErrCodes.h"
#include "transport/PacketProtection.h"
#include "webpackets/BlobReply.h"

CDecryptVerifyWebPacket::CDecryptVerifyWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), DECRYPT_VERIFY_ANSWER) {}

int CDecryptVerifyWebPacket::process(tesel::CBlob& reply) {
    tesel::CBlob packet;
    m_payload.deserialize(&packet);
    if (m_payload.isMalformed()) {
        reply = blobAnswer(*this, ERR_INTERNAL, tesel::CBlob());
        return 0;
    }
    qn::http_transport::KeyExchangeHeader header;
    tesel::CBlob plain;
    const int r = qn::http_transport::decrypt(packet, plain, header);
    if (r != ERR_OK) plain.clear();
    reply = blobAnswer(*this, r, plain);
    return 0;
}
