// Algorithm OIDs of the GOST 2001 CSPs (signature, public key, cipher and the
// RFC 4357 parameter sets).
#pragma once

namespace qn::crypto {

enum eAlgorithmOID : int {
    ALG_OID_UNKNOWN = -1,
    ALG_OID_SIGN_GOST3411_94_3410_2001 = 0,
    ALG_OID_PUBKEY_GOST3410_2001 = 1,
    ALG_OID_GOST28147_89 = 2,
    ALG_OID_GOST3410_2001_PARAMSET_A = 3,
    ALG_OID_GOST3411_94_PARAMSET = 4,
};

inline constexpr int kAlgorithmOIDCount = 5;

extern const char* const eAlgorithmOIDString[kAlgorithmOIDCount];

}  // namespace qn::crypto
