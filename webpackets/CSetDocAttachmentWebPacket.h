// Command 42: attaches a document to the addressed card.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CSetDocAttachmentWebPacket : public CWebPacket {
public:
    explicit CSetDocAttachmentWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
