// Shared ownership of a certificate context: one reference of its own,
// given back when the last holder lets go. Controllers that several
// connections use hand out contexts this way, so a context stays valid for
// its user even when another connection replaces the controller's copy.
#pragma once

#include <memory>

#include "platform/wincrypt.h"

namespace qn::crypto {

using CertContextPtr = std::shared_ptr<const CERT_CONTEXT>;

// Takes over one reference that the caller owns (null gives null).
inline CertContextPtr adoptCert(const CERT_CONTEXT* cert) {
    if (!cert) {
        return nullptr;
    }
    return CertContextPtr(cert, [](const CERT_CONTEXT* c) { CertFreeCertificateContext(c); });
}

// A new reference of the context (null gives null).
inline CertContextPtr holdCert(const CERT_CONTEXT* cert) {
    return cert ? adoptCert(CertDuplicateCertificateContext(cert)) : nullptr;
}

}  // namespace qn::crypto
