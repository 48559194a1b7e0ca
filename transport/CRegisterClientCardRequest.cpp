#include "transport/CRegisterClientCardRequest.h"

#include "errors/eErrCodes.h"
#include "transport/PacketProtection.h"

using tesel::CBlob;

CRegisterClientCardRequest::CRegisterClientCardRequest(const CBlob& card,
                                                       const qn::crypto::Crypto1By1Connect& connection)
    : CHTTPPostRequest(kPath),
      CTransportServerRequest(tesel::QN_PARTNER, tesel::PT_CLIENT_CARD, 0, 1),
      m_card(card),
      m_connection(connection) {}

int CRegisterClientCardRequest::build(CBlob& packet) {
    if (m_card.getSize() > 0xFFFFFFFFu - 4 - 16) return ERR_PACKET_TOO_LARGE;
    CBlob payload;
    if (const int r = allocateMemory(payload, CBlob::sizeOf(m_card))) return r;
    writePermanentHeader(payload);
    payload << m_card;
    if (payload.isMalformed()) return ERR_INTERNAL;
    return qn::http_transport::encryptAndSignWithinLimit(payload, m_connection, packet);
}

int CRegisterClientCardRequest::build(CBlob& body, std::vector<std::string>&) { return build(body); }
