// The partner's client card packet, for "/api/partner/setClientInfo". The
// program builds and protects it; the web page posts it. Payload behind the
// permanent header (1, 1, 2, sender version set by the caller): the client
// card in its CA form (blob).
#pragma once

#include <vector>

#include "core/CBlob.h"
#include "crypto/Crypto1By1Connect.h"
#include "transport/common/CHTTPPostRequest.h"
#include "transport/common/CTransportServerRequest.h"

class CRegisterClientCardRequest : public CHTTPPostRequest, public CTransportServerRequest {
public:
    static constexpr const char* kPath = "/api/partner/setClientInfo";

    // connection: the user's key paired with the CA certificate.
    CRegisterClientCardRequest(const tesel::CBlob& card, const qn::crypto::Crypto1By1Connect& connection);

    // The protected packet: encryptAndSign's codes, 25 when it is 10 MiB or
    // larger.
    int build(tesel::CBlob& packet);
    int build(tesel::CBlob& body, std::vector<std::string>& headers) override;

private:
    tesel::CBlob m_card;
    qn::crypto::Crypto1By1Connect m_connection;
};
