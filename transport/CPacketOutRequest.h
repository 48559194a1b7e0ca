// GET of a CA answer packet by its UUID on the transport server connection.
// Opening the answer (key header, decryption, permanent header) belongs to
// the packet protection layer.
#pragma once

#include <string>

#include "transport/common/CHTTPGetRequest.h"
#include "transport/common/CTransportServerRequest.h"

class CPacketOutRequest : public CHTTPGetRequest, public CTransportServerRequest {
public:
    static constexpr const char* kPath = "/api/getPacketOutByUuid/";

    explicit CPacketOutRequest(const std::string& uuid);
};
