// The test CA's certificates, made with OpenSSL's X.509 API and the GOST
// engine: the self-signed CA certificates and certificates issued for
// PKCS#10 requests.
#pragma once

#include <string>

#include "Bytes.h"
#include "GostEngine.h"

namespace capeer {

// Self-signed CA certificate (basic constraints CA, key usage for signing
// certificates, subject key identifier), valid for `days`.
Bytes makeCaCertificate(const KeyPtr& key, const std::string& commonName, int days);

// Checks the request (DER, its own signature) and, when expectedKeyBlob is
// not empty, that its key is that key; then issues a certificate with the
// request's subject and extensions, a random serial, the CA as issuer and an
// authority key identifier. Returns "" and the DER in cert, or the reason
// for refusing.
std::string issueFromRequest(const KeyPtr& caKey, const Bytes& caCert, const Bytes& request,
                             const Bytes& expectedKeyBlob, int days, Bytes& cert);

// The certificate's signature checks with the CA key.
bool issuedBy(const Bytes& cert, const KeyPtr& caKey);
// The certificate's public key as a PUBLICKEYBLOB (empty when it does not
// decode), and its serial number in CryptoAPI byte order (little-endian).
Bytes certificateKeyBlob(const Bytes& cert);
Bytes certificateSerialLE(const Bytes& cert);

}  // namespace capeer
