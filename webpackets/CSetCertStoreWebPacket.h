// Command 18: chooses where the user's certificates are listed from (0 the
// personal store, 1 and 2 the token stores). The value is kept unchecked; a
// store that does not exist fails the next certificate list. No payload in
// the reply.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CSetCertStoreWebPacket : public CWebPacket {
public:
    explicit CSetCertStoreWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
