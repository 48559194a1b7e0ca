// GOST R 34.10-2001/2012 on libgcrypt: key pairs, signatures in the
// CryptoAPI byte order, public point checks and VKO key agreement. The
// multiplications by secret scalars and the signature checks run on
// OpenSSL's curve arithmetic where the build has it (GostEcOpenssl.h).
//
// Byte orders: a raw public key is LE(x) || LE(y), each coordinate as long
// as the curve's field (the CryptoAPI and X.509 key value); a signature is
// LE(r) || LE(s), i.e. the standard BE(s) || BE(r) reversed as a whole; a
// digest is the byte string the hash produces, read as a little-endian
// number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "softgost/gost/GcryptSupport.h"
#include "softgost/gost/GostParams.h"

namespace plcsp {

// A private scalar in secure memory, left-padded big-endian bytes ↔ MPI.
Mpi privateFromBytes(const unsigned char* be, std::size_t n);
SecureBytes privateToBytes(gcry_mpi_t d, std::size_t n);

// New key pair on the curve; false on a library failure.
bool ecGenerate(const CurveInfo& curve, Mpi& d, std::vector<unsigned char>& pubRaw);
// Q = d·G as a raw public key.
bool ecPublicFromPrivate(const CurveInfo& curve, gcry_mpi_t d, std::vector<unsigned char>& pubRaw);
// True when raw (2 × coordBytes) is a point of the curve with coordinates
// below the field prime.
bool ecCheckPublic(const CurveInfo& curve, const unsigned char* raw, std::size_t n);

// Signature (2 × coordBytes bytes, CryptoAPI order) of a digest. Where
// the build has OpenSSL these compute on its curve arithmetic
// (GostEcOpenssl.h), elsewhere on libgcrypt's.
bool ecSign(const CurveInfo& curve, gcry_mpi_t d, const unsigned char* digest, std::size_t digestLen,
            unsigned char* sigOut);
bool ecVerify(const CurveInfo& curve, const unsigned char* pubRaw, const unsigned char* digest,
              std::size_t digestLen, const unsigned char* sig);
// The same on libgcrypt alone.
bool ecSignGcrypt(const CurveInfo& curve, gcry_mpi_t d, const unsigned char* digest, std::size_t digestLen,
                  unsigned char* sigOut);
bool ecVerifyGcrypt(const CurveInfo& curve, const unsigned char* pubRaw, const unsigned char* digest,
                    std::size_t digestLen, const unsigned char* sig);

// VKO: KEK = H(LE(x) || LE(y)) of ((cofactor · UKM · d) mod q) · Q, UKM read
// little-endian; H is gcryHashAlgo (GOST R 34.11-94 CryptoPro for 2001 keys,
// Streebog-256 for 2012 keys of both sizes). kek receives 32 bytes.
bool ecVko(const CurveInfo& curve, gcry_mpi_t d, const unsigned char* peerRaw,
           const unsigned char ukm[8], int gcryHashAlgo, unsigned char* kek);

// The same in two steps. ((cofactor · d) mod q) · Q depends on the two keys
// only and is the costly part: computed once per pair of keys, each message
// then multiplies it by its UKM (64 bits), which gives the same point as
// above for every key of the curve's prime-order group. staticRaw is
// 2 × coordBytes bytes, kept in secure memory (it is as secret as d).
bool ecVkoStatic(const CurveInfo& curve, gcry_mpi_t d, const unsigned char* peerRaw, SecureBytes& staticRaw);
bool ecVkoWithStatic(const CurveInfo& curve, const unsigned char* staticRaw, const unsigned char ukm[8],
                     int gcryHashAlgo, unsigned char* kek);

}  // namespace plcsp
