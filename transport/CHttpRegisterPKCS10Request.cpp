#include "transport/CHttpRegisterPKCS10Request.h"

#include "core/AppInfo.h"
#include "errors/eErrCodes.h"
#include "transport/PacketProtection.h"

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
    const unsigned long long size = static_cast<unsigned long long>(CBlob::sizeOf(m_cspInfo)) +
                                    CBlob::sizeOf(m_convertId) + CBlob::sizeOf(m_password) + CBlob::sizeOf(m_pkcs10);
    if (size > 0xFFFFFFFFull - 16) return ERR_PACKET_TOO_LARGE;
    CBlob payload;
    if (const int r = allocateMemory(payload, static_cast<unsigned>(size))) return r;
    writePermanentHeader(payload);
    payload << m_cspInfo << m_convertId << m_password << m_pkcs10;
    if (payload.isMalformed()) return ERR_INTERNAL;
    return qn::http_transport::encryptAndSignWithinLimit(payload, m_connection, packet);
}

int CHttpRegisterPKCS10Request::build(CBlob& body, std::vector<std::string>&) { return buildRequest(body); }
