// Command 108: opens a packet addressed to one of the user's keys prepared
// by command 150. Request payload: the packet (blob). Reply payload: the
// packet's key exchange header as a blob (a format 1 header comes back as
// format 2 with the local key as recipient), then the whole decrypted
// payload, permanent header included, as a blob. No payload on failure.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CDecryptPacketInWebPacket : public CWebPacket {
public:
    explicit CDecryptPacketInWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
