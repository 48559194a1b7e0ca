// The revocation test behind CertVerifyRevocation, on OpenSSL's decoder:
// a certificate against the certificate revocation lists found locally.
// No OpenSSL or CryptoAPI types here (see Asn1Decode.h).
#pragma once

#include <cstdint>
#include <vector>

#include "softgost/provider/CertParse.h"

namespace plcsp {

enum class CrlVerdict {
    Good,     // a current list of the issuer does not name the certificate
    Revoked,  // a list of the issuer names it
    NoCrl,    // no list of the issuer was found
    Stale,    // the issuer's lists are all outside their validity
};

// certDer: the certificate. crlFiles: the contents of the CRL files, each
// DER or PEM (a PEM file may hold several lists); files that hold no list
// are skipped. A list belongs to the certificate's issuer when its issuer
// name matches and, where both carry a key identifier, the identifiers are
// equal. now: seconds since 1970 (UTC). reason: the CRLReason of a revoked
// certificate (0, unspecified, when the entry names none).
CrlVerdict checkAgainstCrls(const Bytes& certDer, const std::vector<Bytes>& crlFiles, std::int64_t now,
                            unsigned& reason);

}  // namespace plcsp
