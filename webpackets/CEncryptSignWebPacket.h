// Command 110: encrypts a payload for a peer and signs the packet with one
// of the user's keys prepared by command 150. Request payload: the key
// exchange header (blob: recipient key = the user's key, sender key = the
// peer's), the payload (blob). Reply payload, also after a failure: the
// protected packet as a blob (empty after a failure: read the result first).
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CEncryptSignWebPacket : public CWebPacket {
public:
    explicit CEncryptSignWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
