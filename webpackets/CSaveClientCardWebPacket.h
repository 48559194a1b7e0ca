// Command 46: serializes the current packet's card in the CA form; nothing is
// stored or sent.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CSaveClientCardWebPacket : public CWebPacket {
public:
    CSaveClientCardWebPacket();
    int process(tesel::CBlob& reply) override;
};
