// The plain packet of a request to the CA transport server: the permanent
// header, then the fields in CBlob encodings, protected with encryptAndSign.
#pragma once

#include <string>

#include "core/CBlob.h"
#include "crypto/Crypto1By1Connect.h"
#include "errors/eErrCodes.h"
#include "transport/PacketProtection.h"
#include "transport/common/CTransportServerRequest.h"

namespace qn::http_transport {

// A field's encoded size (length prefix and bytes) counted without wrapping.
inline unsigned long long encodedSize(const tesel::CBlob& b) { return 4ull + b.getSize(); }
inline unsigned long long encodedSize(const std::string& s) { return 4ull + s.size(); }

// 25 when the fields, the header or the protected packet exceed the size
// limits; encryptAndSign's codes otherwise. packet is written only on success.
template <class... Fields>
int buildProtectedPayload(const CTransportServerRequest& request, qn::crypto::Crypto1By1Connect& connection,
                          tesel::CBlob& packet, const Fields&... fields) {
    const unsigned long long size = (0ull + ... + encodedSize(fields));
    if (size > 0xFFFFFFFFull - 16) return ERR_PACKET_TOO_LARGE;
    tesel::CBlob payload;
    if (const int r = request.allocateMemory(payload, static_cast<unsigned>(size))) return r;
    request.writePermanentHeader(payload);
    (payload << ... << fields);
    if (payload.isMalformed()) return ERR_INTERNAL;
    return encryptAndSignWithinLimit(payload, connection, packet);
}

}  // namespace qn::http_transport
