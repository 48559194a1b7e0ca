// Random bytes for session keys and IVs of the token provider.
#pragma once

#include "core/CBlob.h"

namespace qn::crypto {

class RandomByteVector {
public:
    // Fills out with count bytes: a Mersenne Twister (mt19937) seeded from
    // the system's random device; each byte is r / 0xFFFFFF of the first
    // draw r below 0xFFFFFF00, so all 256 values are equally likely.
    RandomByteVector(unsigned count, tesel::CBlob& out);
};

}  // namespace qn::crypto
