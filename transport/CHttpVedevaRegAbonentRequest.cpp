#include "transport/CHttpVedevaRegAbonentRequest.h"

#include "core/AppInfo.h"
#include "errors/eErrCodes.h"
#include "transport/PacketProtection.h"

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
    const unsigned long long size = static_cast<unsigned long long>(CBlob::sizeOf(m_cspInfo)) +
                                    CBlob::sizeOf(m_card) + CBlob::sizeOf(m_pkcs10) + CBlob::sizeOf(m_text);
    if (size > 0xFFFFFFFFull - 16) return ERR_PACKET_TOO_LARGE;
    CBlob payload;
    if (const int r = allocateMemory(payload, static_cast<unsigned>(size))) return r;
    writePermanentHeader(payload);
    payload << m_cspInfo << m_card << m_pkcs10 << m_text;
    if (payload.isMalformed()) return ERR_INTERNAL;
    return qn::http_transport::encryptAndSignWithinLimit(payload, m_connection, packet);
}

int CHttpVedevaRegAbonentRequest::build(CBlob& body, std::vector<std::string>&) { return buildRequest(body); }
