#include "pki/eAlgorithmOID.h"

namespace qn::crypto {

const char* const eAlgorithmOIDString[kAlgorithmOIDCount] = {
    "1.2.643.2.2.3",     // GOST R 34.11-94 with GOST R 34.10-2001 signature
    "1.2.643.2.2.19",    // GOST R 34.10-2001 public key
    "1.2.643.2.2.21",    // GOST 28147-89
    "1.2.643.2.2.35.1",  // GOST R 34.10-2001 parameter set A
    "1.2.643.2.2.30.1",  // GOST R 34.11-94 hash parameter set
};

}  // namespace qn::crypto
