// ControllerPKI: the store in use, the certificate list and the selection.
// The four checks are in ControllerPKIChecks.cpp.
#include "crypto/ControllerPKI.h"

#include <cstring>

namespace qn::crypto {

ControllerPKI::~ControllerPKI() { freeAll(m_certs); }

void ControllerPKI::freeAll(CertMap& certs) {
    for (auto& [index, cert] : certs) {
        if (cert) {
            CertFreeCertificateContext(cert);
        }
    }
    certs.clear();
}

void ControllerPKI::init() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_cryptoCert) {
        m_cryptoCert = std::make_unique<tesel::CryptoCert>();
    }
}

bool ControllerPKI::withCryptoCert(const std::function<void(tesel::CryptoCert&)>& use) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_cryptoCert) {
        return false;
    }
    use(*m_cryptoCert);
    return true;
}

tesel::eCertStore ControllerPKI::getCertStore() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_store;
}

void ControllerPKI::setCertStore(tesel::eCertStore store) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_store = store;
}

int ControllerPKI::getSupportCryptoInterface(tesel::eCertStore store) {
    switch (store) {
        case tesel::CERT_STORE_SYSTEM:
            return 1;
        case tesel::CERT_STORE_JACARTA:
        case tesel::CERT_STORE_RUTOKEN:
            return 2;
        default:
            return 0;
    }
}

void ControllerPKI::setUserCerts(const CertMap& certs) {
    CertMap fresh;
    for (const auto& [index, cert] : certs) {
        fresh[index] = cert ? CertDuplicateCertificateContext(cert) : nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_certs.swap(fresh);
    }
    freeAll(fresh);  // the replaced list
}

std::map<unsigned, CertContextPtr> ControllerPKI::getMapUserCert() const {
    std::map<unsigned, CertContextPtr> out;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& [index, cert] : m_certs) {
        out[index] = holdCert(cert);
    }
    return out;
}

void ControllerPKI::setUserCert(unsigned index) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_userCertId = index;
}

unsigned ControllerPKI::getUserCertId() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_userCertId;
}

CertContextPtr ControllerPKI::getUserCert() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_certs.find(m_userCertId);
    return it == m_certs.end() ? nullptr : holdCert(it->second);
}

CertContextPtr ControllerPKI::getUserCert(unsigned index) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_certs.find(index);
    return it == m_certs.end() ? nullptr : holdCert(it->second);
}

int ControllerPKI::findCertBySN(const tesel::CBlob& sn) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& [index, cert] : m_certs) {
        if (!cert || !cert->pCertInfo) {
            continue;
        }
        const CRYPT_INTEGER_BLOB& serial = cert->pCertInfo->SerialNumber;
        if (serial.cbData == sn.getSize() &&
            (serial.cbData == 0 || std::memcmp(serial.pbData, sn.getData(), serial.cbData) == 0)) {
            return static_cast<int>(index);
        }
    }
    return -1;
}

CertMap ControllerPKI::clearMapUserCerts() {
    CertMap out;
    std::lock_guard<std::mutex> lock(m_mutex);
    out.swap(m_certs);
    return out;
}

void ControllerPKI::clearUserCerts() {
    CertMap old;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        old.swap(m_certs);
    }
    freeAll(old);
}

}  // namespace qn::crypto
