// The CA's verdict on a certificate request or renewal, and on a partner's
// client card: 0 approved; any other value a rejection; all bits set while
// no answer has been read.
#pragma once

#include <cstdint>

namespace tesel {

enum eClientResponse : std::uint32_t {
    CLIENT_RESPONSE_APPROVED = 0,
    CLIENT_RESPONSE_NONE = 0xFFFFFFFF,
};

enum ePartnerResponse : std::uint32_t {
    PARTNER_RESPONSE_ACCEPTED = 0,
    PARTNER_RESPONSE_NONE = 0xFFFFFFFF,
};

}  // namespace tesel
