// GOST R 34.10 signatures on OpenSSL's prime-curve arithmetic, where the
// build has OpenSSL. Its constant-time ladder and joint multiplication are
// three to four times faster than libgcrypt's point multiplication, which
// makes the signature a small share of a protected packet. The curves are
// libgcrypt's own parameters, so both libraries compute on the same group.
//
// Byte orders are those of GostEc.h. Each call answers nullopt when this
// build or this curve has no OpenSSL group; the caller then uses libgcrypt.
#pragma once

#include <cstddef>
#include <optional>

#include "softgost/gost/GcryptSupport.h"
#include "softgost/gost/GostParams.h"

namespace plcsp {

// out = k·P as a raw point (LE(x) || LE(y)), P the raw point pointRaw or
// the generator when pointRaw is null. k is secret: OpenSSL's constant-time
// ladder computes it. False when P is not on the curve or the result is
// the point at infinity.
std::optional<bool> opensslMultiply(const CurveInfo& curve, gcry_mpi_t k, const unsigned char* pointRaw,
                                    unsigned char* out);

std::optional<bool> opensslSign(const CurveInfo& curve, gcry_mpi_t d, const unsigned char* digest,
                                std::size_t digestLen, unsigned char* sigOut);
std::optional<bool> opensslVerify(const CurveInfo& curve, const unsigned char* pubRaw,
                                  const unsigned char* digest, std::size_t digestLen,
                                  const unsigned char* sig);

}  // namespace plcsp
