// One open system certificate store of the current user ("MY",
// "AddressBook", ...). Not shared between threads: each user keeps its own
// (the PKI controller guards the one it holds).
#pragma once

#include "core/CBlob.h"
#include "platform/wincrypt.h"

namespace tesel {

// Store names as CertOpenStore takes them (UTF-16).
extern const WCHAR kStoreMY[];
extern const WCHAR kStoreAddressBook[];

class CryptoCert {
public:
    CryptoCert() = default;
    ~CryptoCert();
    CryptoCert(const CryptoCert&) = delete;
    CryptoCert& operator=(const CryptoCert&) = delete;

    // Closes any open store, then opens the current user's system store of
    // that name. True when a store was opened.
    bool openStore(const WCHAR* name);
    void closeStore();
    bool isOpen() const { return m_store != nullptr; }
    HCERTSTORE getStore() const { return m_store; }

    // The certificate after previous in store order (the first one for
    // null), or null at the end. As CertEnumCertificatesInStore, the call
    // gives back the reference of previous and hands one of the result.
    const CERT_CONTEXT* getNextCertInStore(const CERT_CONTEXT* previous) const;

    // The first certificate in store order whose serial number (in the
    // order CryptoAPI keeps it, least significant byte first) equals the
    // first bytes of serial over the certificate's serial length. Null when
    // no store is open, serial is null or empty, or serial is shorter than
    // the certificate's serial number. The caller frees the result.
    const CERT_CONTEXT* findCertBySerial(const CBlob* serial) const;

    // The CA certificate with that serial number in "AddressBook" (which is
    // opened for it, replacing any open store); null for an empty serial.
    // The caller frees the result.
    const CERT_CONTEXT* findCACert(const CBlob* serial);

    // Adds the certificate, replacing an existing copy. True on success.
    bool addCertToStore(const CERT_CONTEXT* cert);

    // Not used: always null.
    const CERT_CONTEXT* findCertInStore(char* name) const;

private:
    HCERTSTORE m_store = nullptr;
};

}  // namespace tesel
