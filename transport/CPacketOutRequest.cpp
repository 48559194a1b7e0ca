#include "transport/CPacketOutRequest.h"

#include "errors/eErrCodes.h"
#include "transport/PacketProtection.h"
#include "transport/common/TransportHeader.h"

using tesel::CBlob;

CPacketOutRequest::CPacketOutRequest(const std::string& uuid)
    : CHTTPGetRequest(std::string(kPath) + uuid) {}

int CPacketOutRequest::decode(CBlob& payload, qn::crypto::Crypto1By1Connect& connection) {
    CBlob message = getResponse();
    message.moveOffset(0);
    if (const int r = qn::http_transport::openWithConnection(message, connection)) return r;
    if (const int r = readPermanentHeader(message)) return r;
    CBlob answer;
    message >> &answer;
    if (message.isMalformed()) return ERR_PACKET_DAMAGED;
    answer.moveOffset(0);
    payload = std::move(answer);
    return ERR_OK;
}

namespace qn::http_transport {

int decryptPacketOut(CBlob packet, CBlob& out, qn::crypto::Crypto1By1Connect& connection) {
    packet.moveOffset(0);
    if (const int r = openWithConnection(packet, connection)) return r;
    // The caller reads the permanent header itself; it must at least be there.
    if (packet.getSize() < kPermanentHeaderSize) return ERR_PACKET_DAMAGED;
    packet.moveOffset(0);
    out = std::move(packet);
    return ERR_OK;
}

}  // namespace qn::http_transport
