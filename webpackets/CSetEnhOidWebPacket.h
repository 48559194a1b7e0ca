// Command 56: adds or removes an extra key purpose of the addressed card.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CSetEnhOidWebPacket : public CWebPacket {
public:
    explicit CSetEnhOidWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
