#include "transport/CRegisterClientCardRequest.h"

#include "transport/ProtectedPayload.h"

using tesel::CBlob;

CRegisterClientCardRequest::CRegisterClientCardRequest(const CBlob& card,
                                                       const qn::crypto::Crypto1By1Connect& connection)
    : CHTTPPostRequest(kPath),
      CTransportServerRequest(tesel::QN_PARTNER, tesel::PT_CLIENT_CARD, 0, 1),
      m_card(card),
      m_connection(connection) {}

int CRegisterClientCardRequest::build(CBlob& packet) {
    return qn::http_transport::buildProtectedPayload(*this, m_connection, packet, m_card);
}

int CRegisterClientCardRequest::build(CBlob& body, std::vector<std::string>&) { return build(body); }
