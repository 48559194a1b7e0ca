// Command 126: fetches the CA's answer to a certificate request by UUID and
// installs the certificate in its container and the personal store.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CLoadReleasedCertToContainerQnWebPacket : public CWebPacket {
public:
    explicit CLoadReleasedCertToContainerQnWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
