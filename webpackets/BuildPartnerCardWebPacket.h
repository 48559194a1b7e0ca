// Command 140: the protected registration packet of a partner card.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class BuildPartnerCardWebPacket : public CWebPacket {
public:
    explicit BuildPartnerCardWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
