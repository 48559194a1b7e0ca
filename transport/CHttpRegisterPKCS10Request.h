// The CA registration packet of a certificate request, for
// "/api/client/setRequestToCert". The program builds and protects it; the
// web page posts it. Payload behind the permanent header (2, 4, 1, the
// program's version): CSP information (blob), envelope identifier (string),
// envelope password (string), PKCS#10 request (blob, DER).
#pragma once

#include <string>
#include <vector>

#include "core/CBlob.h"
#include "crypto/Crypto1By1Connect.h"
#include "transport/common/CHTTPPostRequest.h"
#include "transport/common/CTransportServerRequest.h"

class CHttpRegisterPKCS10Request : public CHTTPPostRequest, public CTransportServerRequest {
public:
    static constexpr const char* kPath = "/api/client/setRequestToCert";

    // connection: the new key, paired with the CA certificate.
    CHttpRegisterPKCS10Request(const tesel::CBlob& pkcs10, const std::string& convertId, const std::string& password,
                               const tesel::CBlob& cspInfo, const qn::crypto::Crypto1By1Connect& connection);

    // The protected packet: encryptAndSign's codes, 25 when it is 10 MiB or
    // larger.
    int buildRequest(tesel::CBlob& packet);
    int build(tesel::CBlob& body, std::vector<std::string>& headers) override;

private:
    tesel::CBlob m_pkcs10;
    std::string m_convertId;
    std::string m_password;
    tesel::CBlob m_cspInfo;
    qn::crypto::Crypto1By1Connect m_connection;
};
