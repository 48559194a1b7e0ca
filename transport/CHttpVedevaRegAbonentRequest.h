// The regional abonent registration packet (package type 9). The program
// builds and protects it; the web page forwards it to the regional
// registration service, whose address the program does not know (hence no
// URL path). Payload behind the permanent header (2, 9, 1, the program's
// version): CSP information (blob), client card in its CA form (blob),
// signed PKCS#10 request (blob, DER), registration text (string).
#pragma once

#include <string>
#include <vector>

#include "core/CBlob.h"
#include "crypto/Crypto1By1Connect.h"
#include "transport/common/CHTTPPostRequest.h"
#include "transport/common/CTransportServerRequest.h"

class CHttpVedevaRegAbonentRequest : public CHTTPPostRequest, public CTransportServerRequest {
public:
    // connection: the user's key paired with the CA certificate.
    CHttpVedevaRegAbonentRequest(const tesel::CBlob& cspInfo, const tesel::CBlob& card, const tesel::CBlob& pkcs10,
                                 const std::string& text, const qn::crypto::Crypto1By1Connect& connection);

    // The protected packet: encryptAndSign's codes, 25 when it reaches the
    // packet size limit.
    int buildRequest(tesel::CBlob& packet);
    int build(tesel::CBlob& body, std::vector<std::string>& headers) override;

private:
    tesel::CBlob m_cspInfo;
    tesel::CBlob m_card;
    tesel::CBlob m_pkcs10;
    std::string m_text;
    qn::crypto::Crypto1By1Connect m_connection;
};
