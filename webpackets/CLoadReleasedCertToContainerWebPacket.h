// Command 28: fetches the CA's answer to a renewal by UUID and installs the
// certificate in the new container and the personal store.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CLoadReleasedCertToContainerWebPacket : public CWebPacket {
public:
    explicit CLoadReleasedCertToContainerWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
