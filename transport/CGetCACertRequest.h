// GET of the CA certificate: "/api/etc/getCertCA" for GOST 2001 keys,
// "/api/etc/getCertCA_2012" for any other generation. The answer is the DER
// certificate itself, without a transport header.
#pragma once

#include "core/CBlob.h"
#include "crypto/eSupportCP.h"
#include "transport/common/CHTTPGetRequest.h"

class CGetCACertRequest : public CHTTPGetRequest {
public:
    explicit CGetCACertRequest(qn::crypto::eGostCrypto variant);

    // The whole response body as the certificate. Returns 0.
    int decode(tesel::CBlob& certificate) const;
};
