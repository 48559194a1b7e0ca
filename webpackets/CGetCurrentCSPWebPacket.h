// Command 52: the kind of the provider in use. Reply payload: the kind as a
// 4-byte signed integer (-2 when none is chosen).
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CGetCurrentCSPWebPacket : public CWebPacket {
public:
    CGetCurrentCSPWebPacket();
    int process(tesel::CBlob& reply) override;
};
