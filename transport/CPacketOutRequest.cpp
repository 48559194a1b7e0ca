#include "transport/CPacketOutRequest.h"

CPacketOutRequest::CPacketOutRequest(const std::string& uuid)
    : CHTTPGetRequest(std::string(kPath) + uuid) {}
