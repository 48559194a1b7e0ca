// The key header of a protected packet: which keys protect it.
//
// On the wire, format 2 (GOST R 34.10-2012 sender keys) is the marker
// 45 8D FF 32, the format number, then the sender public key, the recipient
// public key and the recipient certificate's serial number, each a
// length-prefixed blob. Format 1 (GOST R 34.10-2001) is the sender public key
// blob alone. A reader tells them apart by the first four bytes.
#pragma once

#include "core/CBlob.h"
#include "core/export.h"

namespace qn::http_transport {

class UPD_QN_API KeyExchangeHeader {
public:
    static constexpr unsigned kMarker = 0x32FF8D45;

    unsigned format = 2;
    tesel::CBlob senderPublicKey;
    tesel::CBlob recipientPublicKey;
    tesel::CBlob recipientCertSerial;

    // Reads either format at the cursor of in. Returns 0, or 6 when a field
    // runs past the end (out is then reset to an empty format-2 header).
    // A format-2 header keeps whatever format number it carries.
    static int decode(tesel::CBlob& in, KeyExchangeHeader& out);

    // Replaces out's contents with the wire form. Returns 0, or 1 for a
    // format other than 1 and 2 (out is then left as it was).
    int operator>>(tesel::CBlob& out) const;
};

}  // namespace qn::http_transport
