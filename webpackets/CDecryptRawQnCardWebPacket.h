// Command 104: opens a client card packet sent to the CA side (a partner's
// card registration or a key renewal request) that is addressed to one of
// the user's prepared keys. Request payload: the packet (blob). Reply
// payload: the card in its web byte form as a blob; empty for a packet of
// any other package type. No payload on failure.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CDecryptRawQnCardWebPacket : public CWebPacket {
public:
    explicit CDecryptRawQnCardWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;

    // Decrypts packet and reads the card of package types 1 and 7; card is
    // left empty for other types. The first failing status.
    static int decryptClientCard(const tesel::CBlob& packet, tesel::CBlob& card);
};
