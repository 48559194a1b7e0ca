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
