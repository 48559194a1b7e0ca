#include "webpackets/ProtectCommand.h"

#include "errors/eErrCodes.h"
#include "webpackets/BlobReply.h"

tesel::CBlob protectCommandReply(const CWebPacket& command, tesel::CBlob& request, ProtectStep protect) {
    tesel::CBlob headerBytes;
    tesel::BLOB payload{};
    request.deserialize(&headerBytes);
    request.deserializeView(payload);
    if (request.isMalformed()) return blobAnswer(command, ERR_INTERNAL, tesel::CBlob());
    // A header that does not decode stays empty and names no key.
    qn::http_transport::KeyExchangeHeader header;
    qn::http_transport::KeyExchangeHeader::decode(headerBytes, header);
    tesel::CBlob reply;
    const int r = protect(payload, header, blobAnswerRoom(command), reply);
    if (r != ERR_OK) return blobAnswer(command, r, tesel::CBlob());
    finishBlobAnswer(command, r, reply);
    return reply;
}
