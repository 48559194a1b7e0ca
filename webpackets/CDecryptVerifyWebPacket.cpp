#include "webpackets/CDecryptVerifyWebPacket.h"

#include <utility>

#include "errors/eErrCodes.h"
#include "transport/PacketProtection.h"
#include "webpackets/BlobReply.h"

CDecryptVerifyWebPacket::CDecryptVerifyWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), DECRYPT_VERIFY_ANSWER) {}

int CDecryptVerifyWebPacket::process(tesel::CBlob& reply) {
    tesel::BLOB packet{};
    m_payload.deserializeView(packet);
    if (m_payload.isMalformed()) {
        reply = blobAnswer(*this, ERR_INTERNAL, tesel::CBlob());
        return 0;
    }
    // The packet is opened where it lies in the request and the plain text
    // is written into the reply itself.
    qn::http_transport::KeyExchangeHeader header;
    tesel::CBlob opened;
    const int r = qn::http_transport::decryptInto(packet, header, blobAnswerRoom(*this), opened);
    if (r != ERR_OK) {
        reply = blobAnswer(*this, r, tesel::CBlob());
        return 0;
    }
    finishBlobAnswer(*this, r, opened);
    reply = std::move(opened);
    return 0;
}
