// Command 106: opens a released-certificate answer of the CA with the key
// of a named container (paired with the CA for the occasion). Request
// payload: container name (string, UTF-8), provider kind (i32), packet
// (blob). Reply payload: the CA's response (u32), the certificate (blob,
// DER). No payload on failure.
#pragma once

#include <string>

#include "core/CBlob.h"
#include "crypto/eSupportCP.h"
#include "server/CWebPacket.h"
#include "transport/eClientResponse.h"

class CDecryptClientCertWebPacket : public CWebPacket {
public:
    explicit CDecryptClientCertWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;

    // container is in the program's code page. The first failing status:
    // container, pairing, packet, permanent header, answer.
    static int getReleasedCert(const tesel::CBlob& packet, const std::string& container,
                               qn::crypto::eSupportCP kind, tesel::CBlob& certificate,
                               tesel::eClientResponse& response);
};
