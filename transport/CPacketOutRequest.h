// GET of a CA answer packet by its UUID on the transport server connection,
// and the opening of such an answer: key header, signature, decryption,
// permanent header, then the one blob that carries the answer itself.
#pragma once

#include <string>

#include "core/CBlob.h"
#include "crypto/Crypto1By1Connect.h"
#include "transport/common/CHTTPGetRequest.h"
#include "transport/common/CTransportServerRequest.h"

class CPacketOutRequest : public CHTTPGetRequest, public CTransportServerRequest {
public:
    static constexpr const char* kPath = "/api/getPacketOutByUuid/";

    explicit CPacketOutRequest(const std::string& uuid);

    // Opens the response with connection (paired with the CA): header and
    // server errors (6, 22-32), 9 for a packet not signed by the paired key
    // or damaged, the key import and decryption codes (8, 10, 7, 11), 20
    // when the permanent header or the answer blob runs past the end. The
    // permanent header is read into this object; payload receives the blob.
    int decode(tesel::CBlob& payload, qn::crypto::Crypto1By1Connect& connection);
};

namespace qn::http_transport {

// The same opening for a packet the caller already holds. On success out is
// the whole decrypted payload, permanent header included, cursor 0.
int decryptPacketOut(tesel::CBlob packet, tesel::CBlob& out, qn::crypto::Crypto1By1Connect& connection);

}  // namespace qn::http_transport
