#include "crypto/CryptoCert.h"

#include <cstring>

namespace tesel {

const WCHAR kStoreMY[] = {'M', 'Y', 0};
const WCHAR kStoreAddressBook[] = {'A', 'd', 'd', 'r', 'e', 's', 's', 'B', 'o', 'o', 'k', 0};

CryptoCert::~CryptoCert() { closeStore(); }

bool CryptoCert::openStore(const WCHAR* name) {
    closeStore();
    if (!name) {
        return false;
    }
    m_store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                            CERT_SYSTEM_STORE_CURRENT_USER, name);
    return m_store != nullptr;
}

void CryptoCert::closeStore() {
    if (m_store) {
        CertCloseStore(m_store, 0);
        m_store = nullptr;
    }
}

const CERT_CONTEXT* CryptoCert::getNextCertInStore(const CERT_CONTEXT* previous) const {
    if (!m_store) {
        return nullptr;
    }
    return CertEnumCertificatesInStore(m_store, previous);
}

const CERT_CONTEXT* CryptoCert::findCertBySerial(const CBlob* serial) const {
    if (!m_store || !serial || serial->isEmpty()) {
        return nullptr;
    }
    const CERT_CONTEXT* cert = nullptr;
    while ((cert = CertEnumCertificatesInStore(m_store, cert)) != nullptr) {
        const CRYPT_INTEGER_BLOB& sn = cert->pCertInfo->SerialNumber;
        if (sn.pbData && sn.cbData > 0 && sn.cbData <= serial->getSize() &&
            std::memcmp(sn.pbData, serial->getData(), sn.cbData) == 0) {
            return cert;  // the enumeration's reference passes to the caller
        }
    }
    return nullptr;
}

const CERT_CONTEXT* CryptoCert::findCACert(const CBlob* serial) {
    if (!serial || serial->isEmpty()) {
        return nullptr;
    }
    if (!openStore(kStoreAddressBook)) {
        return nullptr;
    }
    return findCertBySerial(serial);
}

bool CryptoCert::addCertToStore(const CERT_CONTEXT* cert) {
    if (!m_store || !cert) {
        return false;
    }
    return CertAddCertificateContextToStore(m_store, cert, CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
}

const CERT_CONTEXT* CryptoCert::findCertInStore(char*) const { return nullptr; }

}  // namespace tesel
