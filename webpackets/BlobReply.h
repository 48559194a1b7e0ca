// Replies whose payload is one length-prefixed blob.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

// The command's reply header with result, followed by blob (u32 length and
// the bytes; four zero bytes for an empty blob).
inline tesel::CBlob blobAnswer(const CWebPacket& command, int result, const tesel::CBlob& blob) {
    tesel::CBlob reply = command.codeAnswer(result, tesel::CBlob::sizeOf(blob));
    reply.serialize(&blob);
    return reply;
}

// Bytes in front of the blob in such a reply: the header and the length.
inline unsigned blobAnswerRoom(const CWebPacket& command) {
    return CWebPacket::headerSize(static_cast<unsigned>(command.getUid().size())) + tesel::CBlob::sizeOfInt();
}

// The same reply around a blob that reply already holds behind
// blobAnswerRoom bytes (put there by a step that writes into the caller's
// buffer): a blob of megabytes is not copied once more.
inline void finishBlobAnswer(const CWebPacket& command, int result, tesel::CBlob& reply) {
    const unsigned room = blobAnswerRoom(command);
    command.writeAnswerHeader(reply, result);
    reply.serialize(reply.getSize() - room);
}
