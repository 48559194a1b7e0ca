// Command 54: the CSP kind of a request: the settings' requested CSP and the
// addressed card's CSP.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CSetRequestedCSPWebPacket : public CWebPacket {
public:
    explicit CSetRequestedCSPWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
