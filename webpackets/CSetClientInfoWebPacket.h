// Command 40: sets one field of the addressed card (partner card or the
// current renewal packet's card). A refused field number closes the connection.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CSetClientInfoWebPacket : public CWebPacket {
public:
    explicit CSetClientInfoWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
