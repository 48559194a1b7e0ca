#include "transport/CHttpGetCSPByConvertId.h"

#include "errors/eErrCodes.h"
#include "transport/common/TransportHeader.h"

CHttpGetCSPByConvertId::CHttpGetCSPByConvertId(const std::string& convertId)
    : CHTTPGetRequest(std::string(kPath) + convertId) {}

int CHttpGetCSPByConvertId::decode(qn::crypto::eSupportCP& kind) const {
    tesel::CBlob message = getResponse();
    message.moveOffset(0);
    if (const int r = qn::http_transport::readHeader(message)) return r;
    unsigned value = 0;
    message >> value;
    if (message.isMalformed()) return ERR_PACKET_DAMAGED;
    kind = static_cast<qn::crypto::eSupportCP>(static_cast<int>(value));
    return ERR_OK;
}
