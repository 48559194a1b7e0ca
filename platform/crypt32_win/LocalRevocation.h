// The revocation check of the Windows program where the system's own cannot
// decide: wine's CertVerifyRevocation checks no GOST-signed CRL, and on
// Windows the answer depends on the revocation providers installed. The
// certificate is then looked up in the CRLs of its issuer found in the
// current user's certificate stores, each CRL trusted only when its
// signature verifies (through the GOST provider of the issuer's key type)
// under the key of an issuer certificate that signed the certificate, and
// when it is current.
#pragma once

#include <vector>

#include "platform/wincrypt.h"

namespace plwin {

enum class LocalCrlVerdict {
    Good,     // a current, verified, complete CRL of the issuer does not name it
    Revoked,  // a current, verified CRL of the issuer names it
    NoCrl,    // no verified CRL of the issuer (none found, or none whose signature verifies)
    Stale,    // the issuer's verified CRLs are all outside their validity
};

struct LocalCrlQuery {
    PCCERT_CONTEXT cert = nullptr;
    // A certificate the caller names as the issuer; it counts only when it
    // signed cert. May be null.
    PCCERT_CONTEXT issuerHint = nullptr;
    // Where issuers and CRLs are looked for, besides the hint.
    std::vector<HCERTSTORE> stores;
    // The time the CRLs must be current at (UTC).
    FILETIME now{};
};

// reason: the CRLReason of a revoked certificate (0, unspecified, when the
// entry names none).
LocalCrlVerdict checkLocalCrls(const LocalCrlQuery& query, DWORD& reason);

// The current user's system stores that hold CA certificates and CRLs
// ("CA", "ROOT", "AddressBook", "MY"), opened read-only; the ones that do not
// exist are left out. The caller closes them.
std::vector<HCERTSTORE> openUserCrlStores();

}  // namespace plwin
