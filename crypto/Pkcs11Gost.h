// PKCS#11 types and the GOST values that <p11-kit/pkcs11.h> lacks: the
// vendor-defined GOST R 34.10/34.11-2012 values of the Russian PKCS#11
// extension (prefix 0xD432) and the parameter records of the GOST key
// derivation. Shared by the token provider and the software token.
#pragma once

#include "platform/pkcs11.h"

#include <cstdint>

// GOST R 34.10/34.11-2012 (vendor-defined, base 0xD4321000)
#define CKK_GOSTR3410_512 (0xD4321003UL)
#define CKM_GOSTR3410_512_KEY_PAIR_GEN (0xD4321005UL)
#define CKM_GOSTR3410_512 (0xD4321006UL)
#define CKM_GOSTR3410_12_DERIVE (0xD4321007UL)
#define CKM_GOSTR3410_WITH_GOSTR3411_12_256 (0xD4321008UL)
#define CKM_GOSTR3410_WITH_GOSTR3411_12_512 (0xD4321009UL)
#define CKM_GOSTR3411_12_256 (0xD4321012UL)
#define CKM_GOSTR3411_12_512 (0xD4321013UL)

// Parameter of CKM_GOSTR3410_DERIVE, packed as the PKCS#11 structures are:
// 20 bytes on 32-bit Windows, where CK_ULONG and pointers are 4 bytes each.
PELLAMO_P11_PACK_BEGIN
struct CK_GOSTR3410_DERIVE_PARAMS {
    CK_ULONG kdf;  // CKD_NULL or CKD_CPDIVERSIFY_KDF
    CK_BYTE_PTR pPublicData;
    CK_ULONG ulPublicDataLen;
    CK_BYTE_PTR pUKM;
    CK_ULONG ulUKMLen;
};
PELLAMO_P11_PACK_END
using CK_GOSTR3410_DERIVE_PARAMS_PTR = CK_GOSTR3410_DERIVE_PARAMS*;

// Parameter of CKM_GOSTR3410_12_DERIVE: a flat byte record with 32-bit
// little-endian fields, the same on every platform:
//   kdf (4) | public value length n (4) | public value (n) | UKM length (4) | UKM (8)
// 84 bytes for a 256-bit peer key (n = 64), 148 for a 512-bit one (n = 128).
namespace pkcs11gost {

constexpr std::uint32_t kDerive12Fixed = 20;  // kdf, the two lengths and the UKM

inline std::uint32_t readLe32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void writeLe32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

}  // namespace pkcs11gost
