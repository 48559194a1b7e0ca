// The CA peer's cryptography: OpenSSL 3 with Debian's GOST engine, and the
// mapping between the engine's forms and the CryptoAPI-shaped forms that
// travel in transport packets:
// - public keys travel as PUBLICKEYBLOBs (06 20 00 00, aiKeyAlg, "MAG1",
//   bit length, the SubjectPublicKeyInfo parameters, LE(x)||LE(y));
// - signatures are the engine's BE(s)||BE(r) reversed as a whole;
// - an encrypted message is u32 length, SIMPLEBLOB (16-byte header, UKM,
//   wrapped key, MAC, cipher parameter set), u32 8, IV, CFB cipher text.
#pragma once

#include <memory>
#include <string>

#include "Bytes.h"

namespace capeer {

enum class KeyClass { G2001, G2012_256, G2012_512 };

class Key;
using KeyPtr = std::shared_ptr<Key>;

// Loads the engine once; false when it is not installed.
bool engineReady();
Bytes randomBytes(std::size_t n);

KeyPtr generateKey(KeyClass kind, const std::string& paramset);
// PEM (PKCS#8) private key files.
bool saveKey(const KeyPtr& key, const std::string& path);
KeyPtr loadKey(const std::string& path);

KeyClass classOf(const KeyPtr& key);
unsigned signatureSize(KeyClass kind);
bool is2012(KeyClass kind);

// PUBLICKEYBLOB of a key, and a public-only key from one (null when the blob
// is not a GOST public key blob the engine accepts).
Bytes publicBlob(const KeyPtr& key);
KeyPtr keyFromBlob(const Bytes& blob);
// Same key: key algorithm and key value equal (parameter encodings of one
// key may differ).
bool sameKey(const Bytes& blobA, const Bytes& blobB);

// Hash of the key's class over data, signed; CryptoAPI byte order.
Bytes sign(const KeyPtr& key, const Bytes& data);
bool verify(const KeyPtr& key, const Bytes& data, const Bytes& signature);

// The encrypted message between own (private) and peer (public) keys.
bool encryptMessage(const KeyPtr& own, const KeyPtr& recipient, const Bytes& plain, Bytes& message);
bool decryptMessage(const KeyPtr& own, const KeyPtr& sender, const Bytes& message, Bytes& plain);

// Raw handles for the X.509 functions (CaCertificates.cpp).
void* rawKey(const KeyPtr& key);          // EVP_PKEY*
KeyPtr adoptKey(void* evpPkey);           // takes ownership of an EVP_PKEY*
void* engineHandle();                     // ENGINE*

}  // namespace capeer
