// Command 120: fetches the card of an envelope from the CA; it becomes the card
// of the certificate request, and comes back in the web form.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CGetClientCardByConvertQnWebPacket : public CWebPacket {
public:
    explicit CGetClientCardByConvertQnWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
