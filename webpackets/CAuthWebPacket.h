// Command 22: logs the user in with one certificate of the last list. The
// certificate's key is opened and paired with the CA, the provider kind and
// container become the current ones, and the certificate is signed with its
// own key.
//
// Request payload: the certificate index (u32). Reply payload: one blob
// holding the certificate's DER as a blob (u32 length, bytes) followed by
// the 64-byte signature over that blob.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CAuthWebPacket : public CWebPacket {
public:
    explicit CAuthWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;

    // Reads the index and builds the whole reply.
    int auth(tesel::CBlob& reply);

    // 40 when the index names no certificate of the list (the selection is
    // then unchanged); the status of opening the key, pairing with the CA or
    // signing otherwise. The certificate becomes the selected one once its
    // key is open and paired.
    static unsigned authByCertificate(unsigned index, tesel::CBlob& signedOut);
};
