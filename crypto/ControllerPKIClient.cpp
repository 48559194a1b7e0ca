#include "crypto/ControllerPKIClient.h"

#include <algorithm>

#include "crypto/CryptoBase.h"
#include "crypto/CspAlgorithms.h"
#include "errors/eErrCodes.h"
#include "transport/CGetCACertRequest.h"
#include "transport/TransportServer.h"

namespace qn::crypto {

namespace {

eGostCrypto generationOf(const CERT_CONTEXT* cert) {
    const char* oid = cert->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId;
    return getGostCrypto(std::string(oid ? oid : ""));
}

}  // namespace

// The CA certificate of one generation from the transport server; one the
// deployment does not trust is refused here, before it is cached or paired.
unsigned ControllerPKIClient::fetchCACertificate(eGostCrypto generation, CertContextPtr& out) const {
    CGetCACertRequest request(generation);
    int r = getTransportServer().send(request);
    if (r != 0) {
        return static_cast<unsigned>(r);
    }
    tesel::CBlob der;
    r = request.decode(der);
    if (r != 0) {
        return static_cast<unsigned>(r);
    }
    const CERT_CONTEXT* cert = nullptr;
    if (CryptoBase::blobToCertificate(der, &cert) != ERR_OK) {
        return ERR_CA_CERT_INSTALL;
    }
    CertContextPtr held = adoptCert(cert);
    if (!isTrustedCACertificate(held.get())) {
        return ERR_CA_CERT_INSTALL;
    }
    out = std::move(held);
    return ERR_OK;
}

void ControllerPKIClient::setTrustedCAFingerprints(std::vector<tesel::Sha256Digest> fingerprints) {
    std::lock_guard<std::mutex> lock(m_caMutex);
    m_trustedCA = std::move(fingerprints);
    // A certificate cached under the old list is fetched again and checked.
    if (m_caCert && !isTrustedLocked(m_caCert.get())) m_caCert.reset();
}

bool ControllerPKIClient::isTrustedCACertificate(const CERT_CONTEXT* cert) const {
    std::lock_guard<std::mutex> lock(m_caMutex);
    return isTrustedLocked(cert);
}

bool ControllerPKIClient::isTrustedLocked(const CERT_CONTEXT* cert) const {
    if (!cert || !cert->pbCertEncoded) return false;
    if (m_trustedCA.empty()) return true;
    const tesel::Sha256Digest digest = tesel::sha256(cert->pbCertEncoded, cert->cbCertEncoded);
    return std::find(m_trustedCA.begin(), m_trustedCA.end(), digest) != m_trustedCA.end();
}

ControllerPKIClient& ControllerPKIClient::instance() {
    static ControllerPKIClient* controller = [] {
        auto* c = new ControllerPKIClient();
        c->init();
        return c;
    }();
    return *controller;
}

void ControllerPKIClient::init() {
    ControllerPKI::init();
    setCertStore(tesel::CERT_STORE_SYSTEM);
}

CertContextPtr ControllerPKIClient::getCACertificate() const {
    std::lock_guard<std::mutex> lock(m_caMutex);
    return m_caCert;
}

void ControllerPKIClient::setCACertificate(const CERT_CONTEXT* cert) {
    CertContextPtr held = holdCert(cert);
    std::lock_guard<std::mutex> lock(m_caMutex);
    m_caCert = std::move(held);
}

unsigned ControllerPKIClient::loadlCertCA(Crypto1By1Connect& connection) {
    const eGostCrypto generation = getGostCrypto(connection.getCSP());
    if (generation == GOST_UNKNOWN) {
        return ERR_CSP_NOT_INITIALIZED;  // nothing to pair: the cache stays as it is
    }
    CertContextPtr ca;
    {
        std::lock_guard<std::mutex> lock(m_caMutex);
        if (m_caCert && generationOf(m_caCert.get()) == generation) {
            ca = m_caCert;
        } else {
            m_caCert.reset();
        }
    }
    if (!ca) {
        // Fetched without the lock: a slow server must not hold up the
        // connections that pair with a cached certificate.
        const unsigned r = fetchCACertificate(generation, ca);
        if (r != ERR_OK) {
            return r;
        }
        std::lock_guard<std::mutex> lock(m_caMutex);
        m_caCert = ca;
    }
    tesel::CBlob publicKey;
    const unsigned r = CryptoBase::publicKeyInfoFromCert(ca.get(), publicKey);
    if (r != ERR_OK) {
        return r;
    }
    const CRYPT_INTEGER_BLOB& sn = ca->pCertInfo->SerialNumber;
    const tesel::CBlob serial(sn.pbData, sn.cbData);
    return connection.importPublicKey2Side(publicKey, serial);
}

CertContextPtr getCACertificate(unsigned index) { return ControllerPKIClient::instance().getUserCert(index); }

}  // namespace qn::crypto
