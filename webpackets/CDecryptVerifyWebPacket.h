// Command 112: checks the signature of a packet addressed to one of the
// user's prepared keys and decrypts it. Request payload: the packet (blob).
// Reply payload, also after a failure: the decrypted payload as a blob
// (empty after a failure: read the result first).
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CDecryptVerifyWebPacket : public CWebPacket {
public:
    explicit CDecryptVerifyWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
