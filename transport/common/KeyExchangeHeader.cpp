#include "transport/common/KeyExchangeHeader.h"

#include "errors/eErrCodes.h"

using tesel::CBlob;

namespace qn::http_transport {

namespace {

constexpr unsigned kFormat2001 = 1;
constexpr unsigned kFormat2012 = 2;

}  // namespace

int KeyExchangeHeader::decode(CBlob& in, KeyExchangeHeader& out) {
    KeyExchangeHeader header;
    const unsigned char marker[4] = {0x45, 0x8D, 0xFF, 0x32};
    if (in.isEqual(marker, sizeof marker)) {
        unsigned skippedMarker = 0;
        in >> skippedMarker >> header.format;
        in >> &header.senderPublicKey >> &header.recipientPublicKey >> &header.recipientCertSerial;
    } else {
        header.format = kFormat2001;
        in >> &header.senderPublicKey;
    }
    if (in.isMalformed()) {
        out = KeyExchangeHeader();
        return ERR_UNKNOWN_HEADER;
    }
    out = std::move(header);
    return ERR_OK;
}

int KeyExchangeHeader::operator>>(CBlob& out) const {
    if (format == kFormat2012) {
        CBlob wire(CBlob::sizeOfInt() * 2 + CBlob::sizeOf(senderPublicKey) +
                   CBlob::sizeOf(recipientPublicKey) + CBlob::sizeOf(recipientCertSerial));
        wire << kMarker << format << senderPublicKey << recipientPublicKey << recipientCertSerial;
        wire.moveOffset(0);
        out = std::move(wire);
        return ERR_OK;
    }
    if (format == kFormat2001) {
        CBlob wire(CBlob::sizeOf(senderPublicKey));
        wire << senderPublicKey;
        out = std::move(wire);
        return ERR_OK;
    }
    return ERR_INTERNAL;
}

}  // namespace qn::http_transport
