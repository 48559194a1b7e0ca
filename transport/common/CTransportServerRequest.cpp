#include "transport/common/CTransportServerRequest.h"

#include <limits>

#include "errors/eErrCodes.h"
#include "transport/common/TransportHeader.h"

using tesel::CBlob;

CTransportServerRequest::CTransportServerRequest(tesel::eQuorinType requesterType,
                                                 tesel::PackageType packageType,
                                                 unsigned senderVersion, unsigned version)
    : m_requesterType(requesterType),
      m_packageType(packageType),
      m_senderVersion(senderVersion),
      m_version(version) {}

int CTransportServerRequest::readPermanentHeader(CBlob& payload) {
    return qn::http_transport::readPermanentHeader(payload, m_version, m_packageType,
                                                   m_requesterType, m_senderVersion);
}

int CTransportServerRequest::allocateMemory(CBlob& payload, unsigned bodySize) const {
    constexpr unsigned header = qn::http_transport::kPermanentHeaderSize;
    if (bodySize > std::numeric_limits<unsigned>::max() - header) return ERR_PACKET_TOO_LARGE;
    payload.allocate(bodySize + header);
    return ERR_OK;
}

void CTransportServerRequest::writePermanentHeader(CBlob& payload) const {
    payload << m_version << static_cast<unsigned>(m_packageType)
            << static_cast<unsigned>(m_requesterType) << m_senderVersion;
}

int CTransportServerRequest::isMoreMaxSize(const CBlob& packet) const {
    return qn::http_transport::isMoreMaxSize(packet);
}

int CTransportServerRequest::readHeader(CBlob& message) {
    return qn::http_transport::readHeader(message);
}

int CTransportServerRequest::getServerErr(unsigned serverNumber) {
    return qn::http_transport::getServerErr(serverNumber);
}

int CTransportServerRequest::checkErrorInHeader(const CBlob& message) {
    return qn::http_transport::checkErrorInHeader(message);
}
