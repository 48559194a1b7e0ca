#include "transport/CHttpRegisterPKCS10Request.h"

#include "core/AppInfo.h"
#include "transport/ProtectedPayload.h"

using tesel::CBlob;

CHttpRegisterPKCS10Request::CHttpRegisterPKCS10Request(const CBlob& pkcs10, const std::string& convertId,
                                                       const std::string& password, const CBlob& cspInfo,
                                                       const qn::crypto::Crypto1By1Connect& connection)
    : CHTTPPostRequest(kPath),
      CTransportServerRequest(tesel::QN_CLIENT, tesel::PT_PKCS10, tesel::getVersion(), 2),
      m_pkcs10(pkcs10),
      m_convertId(convertId),
      m_password(password),
      m_cspInfo(cspInfo),
      m_connection(connection) {}

int CHttpRegisterPKCS10Request::buildRequest(CBlob& packet) {
    return qn::http_transport::buildProtectedPayload(*this, m_connection, packet, m_cspInfo, m_convertId, m_password, m_pkcs10);
}

int CHttpRegisterPKCS10Request::build(CBlob& body, std::vector<std::string>&) { return buildRequest(body); }
