// Command 26: new key container and the protected renewal packet, with the
// container names.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CProlongKeyRegisterWebPacket : public CWebPacket {
public:
    CProlongKeyRegisterWebPacket();
    int process(tesel::CBlob& reply) override;
};
