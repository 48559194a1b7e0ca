// Command 144: turns a stored partner card into a signed certificate request
// and a protected registration packet for the regional registration service.
// Payload: partner card key (string), container name (string, UTF-8),
// registration text (string). A new key container of that name is made with
// the GOST 2012 provider, the card's PKCS#10 request is signed with its key,
// and the packet (CHttpVedevaRegAbonentRequest) is protected for the CA with
// the user's connection. Reply (145): the container's unique name (string,
// UTF-8) and the packet (blob); any failure is answered with its code alone,
// a key that names no partner card with 1.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CVedevaRegAbonentWebPacket : public CWebPacket {
public:
    explicit CVedevaRegAbonentWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
