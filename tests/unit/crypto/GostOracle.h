// An independent GOST implementation for the tests: OpenSSL 3 with the GOST
// engine. Used only by the tests (the program never links the engine). The
// header carries no OpenSSL types so test files can include it beside the
// CryptoAPI-shaped headers.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct evp_pkey_st;  // OpenSSL's EVP_PKEY

namespace oracle {

using Bytes = std::vector<unsigned char>;

// Key size classes as the engine names them.
enum class Kind { G2001, G2012_256, G2012_512 };

// False when the engine cannot be loaded (the tests then fail loudly).
bool available();

class Key;
using KeyPtr = std::shared_ptr<Key>;

// The engine key itself, for the other oracle files (the key keeps it).
evp_pkey_st* pkeyOf(const KeyPtr& key);

// A new engine key pair; paramset as the engine's "paramset" option ("A",
// "XA", "TCA", "A" for 512 ...).
KeyPtr generate(Kind kind, const std::string& paramset);
// The key's SubjectPublicKeyInfo pieces: algorithm parameters (DER) and the
// raw key value LE(x)||LE(y).
Bytes spkiParams(const KeyPtr& key);
Bytes rawPublic(const KeyPtr& key);
// A public-only engine key from its parts (built as a SubjectPublicKeyInfo).
KeyPtr publicKey(Kind kind, const Bytes& paramsDer, const Bytes& raw);
// A public key from a whole SubjectPublicKeyInfo DER.
KeyPtr publicKeyFromSpki(const Bytes& spki);
Bytes spkiDer(Kind kind, const Bytes& paramsDer, const Bytes& raw);

// Signature of a digest (read little-endian by the engine): BE(s)||BE(r).
Bytes signDigest(const KeyPtr& key, const Bytes& digest);
bool verifyDigest(const KeyPtr& key, const Bytes& digest, const Bytes& sig);

// VKO with an 8-byte UKM: 32 bytes.
Bytes derive(const KeyPtr& own, const KeyPtr& peer, const Bytes& ukm);

// GOST key transport (VKO + CryptoPro key wrap) with the sender's static key:
// returns the engine's DER structure.
Bytes transportEncrypt(const KeyPtr& recipient, const KeyPtr& sender, const Bytes& ukm,
                       const Bytes& cek);
// Unwraps a transport structure with the recipient's key and the sender's
// public key; empty on failure (e.g. a wrong MAC).
Bytes transportDecrypt(const KeyPtr& recipient, const KeyPtr& sender, const Bytes& der);
// Builds / splits the transport structure: encrypted key (32), MAC (4),
// cipher parameter set OID (dotted), UKM (8).
Bytes transportDer(const Bytes& encKey, const Bytes& mac, const std::string& cipherOid,
                   const Bytes& ukm);
bool transportParts(const Bytes& der, Bytes& encKey, Bytes& mac, Bytes& ukm);

// GOST 28147-89 CFB with CryptoPro key meshing ("gost89") with an S-box OID.
Bytes cfb(const Bytes& key, const Bytes& iv, const std::string& sboxOid, const Bytes& data,
          bool encrypt);

// Digests by engine name: "md_gost94", "md_gost12_256", "md_gost12_512".
Bytes digest(const std::string& name, const Bytes& data);

// A certificate for a public key, issued and signed by an engine key
// (GOST R 34.11-2012-256 with a 2012 issuer, 34.11-94 with a 2001 one).
Bytes issueCertificate(const KeyPtr& issuer, const Bytes& subjectSpki, const std::string& commonName,
                       long serial, long validDays);
// The same certificate wrapped as PKCS#7 (certificates only) and as PEM.
Bytes pkcs7Of(const Bytes& certDer);
std::string pemOf(const Bytes& certDer);

}  // namespace oracle
