// Command 14: the web page hands over its root CA certificates as one
// length-prefixed blob; they are kept for the certificate commands. The reply
// carries no payload.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CSetRootCALkCertsWebPacket : public CWebPacket {
public:
    explicit CSetRootCALkCertsWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
