#include "transport/CHttpVedevaRegAbonentRequest.h"

#include "core/AppInfo.h"
#include "transport/ProtectedPayload.h"

using tesel::CBlob;

CHttpVedevaRegAbonentRequest::CHttpVedevaRegAbonentRequest(const CBlob& cspInfo, const CBlob& card,
                                                           const CBlob& pkcs10, const std::string& text,
                                                           const qn::crypto::Crypto1By1Connect& connection)
    : CHTTPPostRequest(""),
      CTransportServerRequest(tesel::QN_CLIENT, tesel::PT_KA_CARD, tesel::getVersion(), 2),
      m_cspInfo(cspInfo),
      m_card(card),
      m_pkcs10(pkcs10),
      m_text(text),
      m_connection(connection) {}

int CHttpVedevaRegAbonentRequest::buildRequest(CBlob& packet) {
    return qn::http_transport::buildProtectedPayload(*this, m_connection, packet, m_cspInfo, m_card, m_pkcs10, m_text);
}

int CHttpVedevaRegAbonentRequest::build(CBlob& body, std::vector<std::string>&) { return buildRequest(body); }
