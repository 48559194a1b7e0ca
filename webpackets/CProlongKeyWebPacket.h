// Command 24: starts a renewal of the selected certificate's key. A failure
// closes the connection without a reply.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CProlongKeyWebPacket : public CWebPacket {
public:
    CProlongKeyWebPacket();
    int process(tesel::CBlob& reply) override;
};
