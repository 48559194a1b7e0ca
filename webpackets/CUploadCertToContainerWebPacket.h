// Command 152: installs a certificate the page holds in a container (not in
// the personal store).
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CUploadCertToContainerWebPacket : public CWebPacket {
public:
    explicit CUploadCertToContainerWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
