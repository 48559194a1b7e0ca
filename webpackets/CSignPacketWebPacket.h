// Command 114: signs a payload for a peer with one of the user's keys
// prepared by command 150; the payload travels in clear. Request payload:
// the key exchange header (blob), the payload (blob). Reply payload, also
// after a failure: the signed packet as a blob (empty after a failure).
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CSignPacketWebPacket : public CWebPacket {
public:
    explicit CSignPacketWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
