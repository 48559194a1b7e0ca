// The per-kind algorithm table: object identifiers, algorithm and mechanism
// numbers, key and signature sizes and GOST generation of every provider
// kind, and the conversions between generations. Unknown kinds behave like
// CP_NONE (empty text, -1, 0 or CP_NONE).
//
// The 2012/512 kinds (-4, -7, 78, 81) carry their real 512-bit values: a
// 128-byte signature, the TC26 512-bit parameter set 1.2.643.7.1.2.1.2.1, the
// Streebog-512 hash parameter set 1.2.643.7.1.1.2.3, the hash
// CALG_GR3411_2012_512 for the CryptoAPI kinds and the 512-bit mechanisms for
// the token kinds, so that keys of this class can actually sign.
#pragma once

#include <string>

#include "core/CBlob.h"
#include "crypto/eSupportCP.h"

namespace qn::crypto {

std::string get_PUBKEY_ALG_OID(eSupportCP kind);
std::string get_SIGN_ALG_OID(eSupportCP kind);
std::string get_ENCRYPT_ALG_OID(eSupportCP kind);
std::string get_28147_ALG_OID(eSupportCP kind);
std::string get_HASH_PARAM_SET_ALG_OID(eSupportCP kind);
std::string get_SIGN_PARAM_SET_ALG_OID(eSupportCP kind);

// aiKeyAlg of the kind's public key blobs (0x2E23, 0x2E49, 0x2E3D), -1.
int getPubKeyAlgId(eSupportCP kind);
// Public key length in bits (512, 1024), 0.
unsigned getPubKeySize(eSupportCP kind);
// Signature length in bytes (64, 128), 0.
unsigned getSignSize(eSupportCP kind);
eGostCrypto getGostCrypto(eSupportCP kind);
// CryptoAPI ALG_ID for CryptoAPI kinds, PKCS#11 mechanism for token kinds;
// 0xFFFFFFFF (-1) for unknown kinds.
unsigned getHashAlgId(eSupportCP kind);
// PKCS#11 signature mechanism of token kinds; 0xFFFFFFFF (-1) otherwise.
unsigned getSignAlgId(eSupportCP kind);

// 1 for CryptoAPI kinds, 2 for PKCS#11 kinds, 0 otherwise.
int getSupportCryptoInterface(eSupportCP kind);
eSupportCP convertToGost2012(eSupportCP kind);
eSupportCP convertToGost2001(eSupportCP kind);

// Generation of a public key blob (aiKeyAlg at offset 4) or of a public key
// algorithm OID.
eGostCrypto getGostCrypto(const tesel::CBlob& publicKeyBlob);
eGostCrypto getGostCrypto(const std::string& pubKeyAlgOid);
int getPubKeyAlgId(const std::string& pubKeyAlgOid);

}  // namespace qn::crypto
