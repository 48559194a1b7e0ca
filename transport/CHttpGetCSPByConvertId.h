// GET of the CSP kind registered for an envelope:
// "/api/client/getCSPByConvertId/" + convert ID. The answer is the magic
// followed by a u32 CSP kind, unprotected.
#pragma once

#include <string>

#include "crypto/eSupportCP.h"
#include "transport/common/CHTTPGetRequest.h"
#include "transport/common/CTransportServerRequest.h"

class CHttpGetCSPByConvertId : public CHTTPGetRequest, public CTransportServerRequest {
public:
    static constexpr const char* kPath = "/api/client/getCSPByConvertId/";

    explicit CHttpGetCSPByConvertId(const std::string& convertId);

    // Header and server errors (6, 22-32), 20 when the kind is missing; kind
    // is changed only on success.
    int decode(qn::crypto::eSupportCP& kind) const;
};
