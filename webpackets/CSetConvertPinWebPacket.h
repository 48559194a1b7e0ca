// Command 124: the envelope PIN of the certificate request.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CSetConvertPinWebPacket : public CWebPacket {
public:
    explicit CSetConvertPinWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
