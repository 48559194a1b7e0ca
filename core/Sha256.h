// SHA-256 (FIPS 180-4) of a byte string: the fingerprint by which a
// deployment names the CA certificates it trusts. Portable code, the same in
// every build, so that a fingerprint computed by any common tool matches.
#pragma once

#include <array>
#include <cstddef>

#include "core/export.h"

namespace tesel {

using Sha256Digest = std::array<unsigned char, 32>;

UPD_QN_API Sha256Digest sha256(const unsigned char* data, std::size_t size);

}  // namespace tesel
