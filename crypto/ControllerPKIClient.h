// The process-wide PKI controller of the program: the controller of the
// user's certificates plus the CA's own certificate, fetched from the
// transport server once per GOST generation and kept.
#pragma once

#include <mutex>
#include <vector>

#include "core/Sha256.h"

#include "crypto/ControllerPKI.h"
#include "crypto/Crypto1By1Connect.h"

namespace qn::crypto {

class ControllerPKIClient : public ControllerPKI {
public:
    // The one process-wide controller, created on first use with store 0;
    // never destroyed.
    static ControllerPKIClient& instance();

    // A controller of its own (tests); instance() is the program's one.
    ControllerPKIClient() = default;

    // Creates the store object and sets store 0.
    void init();

    // Pairs the connection with the CA: the CA certificate of the
    // connection's GOST generation (the cached one, or fetched with the
    // CA-certificate request over the transport server connection), then
    // importPublicKey2Side with its public key and serial number. Returns
    // the transport status of a failed fetch, 43 when the answer holds no
    // certificate or a certificate the deployment does not trust (see
    // setTrustedCAFingerprints), 3 for a connection without a provider, else
    // the status of the key agreement. A failed fetch leaves no cached
    // certificate.
    unsigned loadlCertCA(Crypto1By1Connect& connection);

    // The cached CA certificate, or null.
    CertContextPtr getCACertificate() const;
    // Caches a reference of its own to cert (null forgets the cached one).
    void setCACertificate(const CERT_CONTEXT* cert);

    // The SHA-256 fingerprints of the DER certificates the CA may serve. A
    // fetched certificate that matches none is refused before anything uses
    // it; an empty list accepts whatever the transport server sends.
    void setTrustedCAFingerprints(std::vector<tesel::Sha256Digest> fingerprints);
    // Whether cert may be used as the CA certificate under the current list.
    bool isTrustedCACertificate(const CERT_CONTEXT* cert) const;

private:
    unsigned fetchCACertificate(eGostCrypto generation, CertContextPtr& out) const;
    bool isTrustedLocked(const CERT_CONTEXT* cert) const;

    mutable std::mutex m_caMutex;
    CertContextPtr m_caCert;
    std::vector<tesel::Sha256Digest> m_trustedCA;
};

// The user certificate under index in the program's PKI controller, or null
// when no certificate has that index.
CertContextPtr getCACertificate(unsigned index);

}  // namespace qn::crypto
