// Command 48: the client card held in the certificate the user logged in
// with (command 22), in its web byte form. Reply payload: the card as a
// blob. 39 before any certificate has been selected.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CLoadAuthCertInfoWebPacket : public CWebPacket {
public:
    CLoadAuthCertInfoWebPacket();
    int process(tesel::CBlob& reply) override;
};
