#include "webpackets/ProtectCommand.h"

#include "errors/eErrCodes.h"
#include "webpackets/BlobReply.h"

tesel::CBlob protectCommandReply(const CWebPacket& command, tesel::CBlob& request, ProtectStep protect) {
    tesel::CBlob headerBytes;
    tesel::CBlob payload;
    request.deserialize(&headerBytes);
    request.deserialize(&payload);
    if (request.isMalformed()) return blobAnswer(command, ERR_INTERNAL, tesel::CBlob());
    // A header that does not decode stays empty and names no key.
    qn::http_transport::KeyExchangeHeader header;
    qn::http_transport::KeyExchangeHeader::decode(headerBytes, header);
    tesel::CBlob packet;
    const int r = protect(payload, packet, header);
    if (r != ERR_OK) packet.clear();
    return blobAnswer(command, r, packet);
}
