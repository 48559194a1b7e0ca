// The PKI controller: the certificate store in use, the user's certificates
// by index and the selected one, and the checks that decide whether a
// certificate may be offered to the user.
//
// Commands of different connections use the controller at once, so every
// member is guarded by one lock, and certificates leave the controller only
// as references of their own (CertContextPtr): a certificate a command is
// working with stays valid when another command replaces the list.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "core/CBlob.h"
#include "crypto/CertContextPtr.h"
#include "crypto/CryptoCert.h"
#include "crypto/eCertStore.h"
#include "platform/wincrypt.h"

class CCertObject;

namespace qn::crypto {

class Crypto1By1Connect;

// Certificate status flags set by the checks.
inline constexpr int CERT_STATUS_OK = 0;
// Not yet valid, or expired more than 30 days ago.
inline constexpr int CERT_STATUS_OUT_OF_PERIOD = 1;
// Expired within the last 30 days: a warning, still acceptable.
inline constexpr int CERT_STATUS_EXPIRED_RECENTLY = static_cast<int>(0x80000000u);
// The issuer is not one of the trusted root CAs.
inline constexpr int CERT_STATUS_UNTRUSTED_ISSUER = 0x10000000;
// No usable authority key identifier, or not a qualified certificate.
inline constexpr int CERT_STATUS_NOT_QUALIFIED = 0x20000000;
// A revocation list of the issuer names the certificate.
inline constexpr int CERT_STATUS_REVOKED = 0x40000000;

// A status is acceptable when only the warning bit may be set.
inline bool isAcceptableCertStatus(int status) { return (static_cast<unsigned>(status) & 0x7FFFFFFFu) == 0; }

using CertMap = std::map<unsigned, const CERT_CONTEXT*>;

class ControllerPKI {
public:
    ControllerPKI() = default;
    virtual ~ControllerPKI();
    ControllerPKI(const ControllerPKI&) = delete;
    ControllerPKI& operator=(const ControllerPKI&) = delete;

    // Creates the controller's own store object (closed).
    void init();

    tesel::eCertStore getCertStore() const;
    void setCertStore(tesel::eCertStore store);
    // 1 (CryptoAPI) for store 0, 2 (PKCS#11) for stores 1 and 2, else 0.
    static int getSupportCryptoInterface(tesel::eCertStore store);

    // Replaces the list. The controller takes references of its own to the
    // given contexts (the caller keeps and frees its own) and gives back
    // those of the list it replaces.
    void setUserCerts(const CertMap& certs);
    // The list, each certificate as a reference of the caller's own.
    std::map<unsigned, CertContextPtr> getMapUserCert() const;

    void setUserCert(unsigned index);
    unsigned getUserCertId() const;
    // The selected certificate, or null when no certificate has that index.
    CertContextPtr getUserCert() const;
    // The certificate under index, or null.
    CertContextPtr getUserCert(unsigned index) const;

    // The index of the first certificate (in index order) whose serial
    // number bytes equal sn exactly (same length, same bytes), or -1.
    int findCertBySN(const tesel::CBlob& sn) const;

    // Empties the list without giving its references back: they pass to
    // the caller, who frees them.
    [[nodiscard]] CertMap clearMapUserCerts();
    // Empties the list and gives its references back.
    void clearUserCerts();

    // Runs use with the controller's store object under the controller's
    // lock; false (use not run) before init().
    bool withCryptoCert(const std::function<void(tesel::CryptoCert&)>& use);

    // The checks. Each returns 0 and only sets status.
    // Validity against the current time (UTC): 0, 1 or 0x80000000.
    static int checkCertificatePeriod(const CERT_CONTEXT* cert, int& status);
    // The authority key identifier against the trusted roots blob (a 32-bit
    // count, then that many length-prefixed key identifiers; a blob that
    // ends early holds the identifiers that are whole): unchanged when one
    // matches, 0x10000000 when none does, 0x20000000 without a usable key
    // identifier.
    static int checkCertificateIssuerIsTrust(const CERT_CONTEXT* cert, tesel::CBlob roots, int& status);
    // Asks CertVerifyRevocation; a certificate reported revoked gets
    // 0x40000000, any other answer leaves status unchanged.
    static int checkCertificateRevocation(const CERT_CONTEXT* cert, int& status);
    // The subject's INN checked as the client card checks it for the
    // certificate's owner kind; 0x20000000 when it fails.
    static int checkCertificateIsQualified(const CCertObject& cert, int& status);

    // Whether the certificate (DER) may be installed into the container of
    // key: 0 when its public key is the container's, 73 when it is not (or
    // the container's key cannot be read), 44 when it cannot be decoded.
    static unsigned checkCertificateKey(const tesel::CBlob& certificate, const Crypto1By1Connect& key);

protected:
    mutable std::mutex m_mutex;

private:
    static void freeAll(CertMap& certs);

    tesel::eCertStore m_store = tesel::CERT_STORE_UNDEFINED;
    unsigned m_userCertId = 0xFFFFFFFFu;
    CertMap m_certs;  // one reference each, owned
    std::unique_ptr<tesel::CryptoCert> m_cryptoCert;
};

}  // namespace qn::crypto
