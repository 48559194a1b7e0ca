// Command 44: the certificate of the CA's answer to a renewal, by UUID.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CReleasedCertWebPacket : public CWebPacket {
public:
    explicit CReleasedCertWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
