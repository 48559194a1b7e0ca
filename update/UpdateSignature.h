// Signatures of update packages: GOST R 34.10-2012 with 256-bit keys on the
// CryptoPro A parameter set, over a Streebog-256 digest.
//
// What is signed, each digest taken over CBlob encodings (32-bit little-endian
// integers, strings as a 32-bit length and the bytes), T being the program
// variant (tesel::eQuorinType) the package is for:
//   part K of version V:  "update part of variant", T, V, K, the file's name, its content
//   updateinfo.dat of V:  "update list of variant", T, V, the file's bytes before the signature
// The labels keep a signature of one kind from passing as the other (and
// from passing as one of the earlier form without the variant); the variant,
// version and number keep a part from being replayed in another program, at
// another place or in another version.
//
// Byte orders as elsewhere in the system: a public key is LE(x) || LE(y)
// (64 bytes), a private key LE(d) (32 bytes), a signature LE(r) || LE(s)
// (64 bytes, the CryptoAPI order).
#pragma once

#include <string>
#include <vector>

#include "core/CBlob.h"
#include "core/eQuorinType.h"
#include "core/export.h"

namespace qn::update {

inline constexpr unsigned kSignatureSize = 64;
inline constexpr unsigned kPublicKeySize = 64;
inline constexpr unsigned kPrivateKeySize = 32;
inline constexpr unsigned kDigestSize = 32;

using Bytes = std::vector<unsigned char>;

UPD_QN_API void partDigest(tesel::eQuorinType type, unsigned version, unsigned number, const std::string& name,
                           const unsigned char* content, std::size_t size, unsigned char digest[kDigestSize]);
UPD_QN_API void listDigest(tesel::eQuorinType type, unsigned version, const unsigned char* list, std::size_t size,
                           unsigned char digest[kDigestSize]);

// False when the key is not a valid private key or the library fails.
UPD_QN_API bool signDigest(const Bytes& privateKey, const unsigned char digest[kDigestSize],
                           unsigned char signature[kSignatureSize]);
// False for a wrong signature and for a public key that is not a point of
// the curve.
UPD_QN_API bool verifyDigest(const Bytes& publicKey, const unsigned char digest[kDigestSize],
                             const unsigned char signature[kSignatureSize]);

// A new key pair; false on a library failure.
UPD_QN_API bool generateSigningKey(Bytes& privateKey, Bytes& publicKey);
// The public key of a private key; false when it is not a valid one.
UPD_QN_API bool publicKeyOf(const Bytes& privateKey, Bytes& publicKey);

// The vendor's verification key built into the library (a deployment value).
UPD_QN_API const Bytes& vendorPublicKey();
// Whether this build accepts packages without signatures (a deployment
// switch, off unless the build turns it on).
UPD_QN_API bool buildAcceptsUnsignedPackages();
// The public half of the repository's test key pair, whose private half is
// public too: only a development build may install what it verifies.
UPD_QN_API const Bytes& repositoryTestKey();
// Whether this is a development build (PELLAMO_DEVELOPMENT_BUILD).
UPD_QN_API bool isDevelopmentBuild();
// Whether a distribution's package manager updates the program
// (PELLAMO_DISTRIBUTION_PACKAGE): the agent then only tells of a newer version.
UPD_QN_API bool buildLeavesUpdatesToPackageManager();

}  // namespace qn::update
