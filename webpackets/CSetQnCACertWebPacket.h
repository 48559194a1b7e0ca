// Command 150: prepares one of the user's certificates for the CA exchange:
// its key is opened into the CA-side module of its public key, so that
// packets addressed to that key can be opened and answered (commands 104 to
// 114). Request payload: certificate index (u32), a second u32 that is not
// used. No payload in the reply; 40 when the index names no certificate of
// the list.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CSetQnCACertWebPacket : public CWebPacket {
public:
    explicit CSetQnCACertWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
