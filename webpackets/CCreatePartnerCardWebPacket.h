// Command 142: creates a partner card under a key (an existing one is kept).
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CCreatePartnerCardWebPacket : public CWebPacket {
public:
    explicit CCreatePartnerCardWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
