#include "crypto/ControllerPKIClient.h"

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

// The CA certificate of one generation from the transport server.
unsigned fetchCACertificate(eGostCrypto generation, CertContextPtr& out) {
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
    out = adoptCert(cert);
    return ERR_OK;
}

}  // namespace

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
