// GET of the client card of an envelope:
// "/api/client/getPacketOutByConvertId/" + convert ID. The answer is a
// signed-only packet from the CA whose payload, behind the permanent header,
// is one blob (the card in its CA form).
#pragma once

#include <string>

#include "core/CBlob.h"
#include "crypto/eSupportCP.h"
#include "transport/common/CHTTPGetRequest.h"
#include "transport/common/CTransportServerRequest.h"

class CHttpGetPacketOutByConvertId : public CHTTPGetRequest, public CTransportServerRequest {
public:
    static constexpr const char* kPath = "/api/client/getPacketOutByConvertId/";

    explicit CHttpGetPacketOutByConvertId(const std::string& convertId);

    // Checks the signature with the sender key of the header on a provider
    // of kind (its GOST 2001 counterpart for a format 1 header); the body is
    // not encrypted. Header and server errors, the provider's opening codes,
    // 10 for an unusable key, 9 for a bad signature or a packet too short for
    // one, 20 when the permanent header or the blob runs past the end.
    int decode(tesel::CBlob& payload, qn::crypto::eSupportCP kind);
};
