// The mingw build has no OpenSSL: libgcrypt computes every signature.
#include "softgost/gost/GostEcOpenssl.h"

namespace plcsp {

std::optional<bool> opensslMultiply(const CurveInfo&, gcry_mpi_t, const unsigned char*, unsigned char*) {
    return std::nullopt;
}

std::optional<bool> opensslSign(const CurveInfo&, gcry_mpi_t, const unsigned char*, std::size_t,
                                unsigned char*) {
    return std::nullopt;
}

std::optional<bool> opensslVerify(const CurveInfo&, const unsigned char*, const unsigned char*, std::size_t,
                                  const unsigned char*) {
    return std::nullopt;
}

}  // namespace plcsp
