// Command 122: new key container, signed PKCS#10 request of the card and the
// protected CA registration packet, which the page posts.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CSendP10ClientRequestWebPacket : public CWebPacket {
public:
    explicit CSendP10ClientRequestWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
