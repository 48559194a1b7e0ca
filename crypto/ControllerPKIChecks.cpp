// The four checks of ControllerPKI that decide whether a certificate may be
// offered to the user. The certificate list applies them in this order,
// each only while the status so far is acceptable: period, issuer trust,
// revocation, and (after parsing) the qualified-certificate test.
#include <cstring>
#include <vector>

#include "client/CClient.h"
#include "core/DateTime.h"
#include "crypto/ControllerPKI.h"
#include "crypto/CryptoBase.h"
#include "crypto/Crypto1By1Connect.h"
#include "errors/eErrCodes.h"
#include "pki/CCertObject.h"

namespace qn::crypto {

int ControllerPKI::checkCertificatePeriod(const CERT_CONTEXT* cert, int& status) {
    SYSTEMTIME from{}, to{};
    if (!cert || !cert->pCertInfo || !FileTimeToSystemTime(&cert->pCertInfo->NotBefore, &from) ||
        !FileTimeToSystemTime(&cert->pCertInfo->NotAfter, &to)) {
        status = CERT_STATUS_OUT_OF_PERIOD;  // no period that could be judged
        return 0;
    }
    SYSTEMTIME now{};
    GetSystemTime(&now);
    if (tesel::isGreater(now, to)) {
        // Elapsed time as a calendar offset: less than a month and at most
        // 30 days is only a warning.
        const SYSTEMTIME d = tesel::getDiffDates(now, to);
        status = (d.wYear == 0 && d.wMonth == 0 && d.wDay <= 30) ? CERT_STATUS_EXPIRED_RECENTLY
                                                                : CERT_STATUS_OUT_OF_PERIOD;
    } else {
        status = tesel::isLess(now, from) ? CERT_STATUS_OUT_OF_PERIOD : CERT_STATUS_OK;
    }
    return 0;
}

int ControllerPKI::checkCertificateIssuerIsTrust(const CERT_CONTEXT* cert, tesel::CBlob roots, int& status) {
    if (!cert || !cert->pCertInfo) {
        status = CERT_STATUS_NOT_QUALIFIED;
        return 0;
    }
    const CERT_INFO& info = *cert->pCertInfo;
    const CERT_EXTENSION* ext = info.rgExtension
                                    ? CertFindExtension(szOID_AUTHORITY_KEY_IDENTIFIER2, info.cExtension,
                                                        info.rgExtension)
                                    : nullptr;
    std::vector<BYTE> decoded;
    if (!ext ||
        !CCertObject::decodeCryptoObject(X509_AUTHORITY_KEY_ID2, ext->Value.pbData, ext->Value.cbData, decoded)) {
        status = CERT_STATUS_NOT_QUALIFIED;
        return 0;
    }
    const auto* aki = reinterpret_cast<const CERT_AUTHORITY_KEY_ID2_INFO*>(decoded.data());
    const CRYPT_DATA_BLOB& keyId = aki->KeyId;
    // An identifier by issuer name and serial number alone names no key.
    if (!keyId.pbData || keyId.cbData == 0) {
        status = CERT_STATUS_NOT_QUALIFIED;
        return 0;
    }
    // A blob that ends early holds only the identifiers that are whole.
    roots.moveOffset(0);
    unsigned count = 0;
    roots.deserialize(count);
    for (unsigned i = 0; i < count && !roots.isMalformed(); ++i) {
        tesel::CBlob id;
        roots.deserialize(&id);
        if (roots.isMalformed()) {
            break;
        }
        if (id.getSize() == keyId.cbData && std::memcmp(id.getData(), keyId.pbData, keyId.cbData) == 0) {
            return 0;  // trusted: status unchanged
        }
    }
    status = CERT_STATUS_UNTRUSTED_ISSUER;
    return 0;
}

int ControllerPKI::checkCertificateRevocation(const CERT_CONTEXT* cert, int& status) {
    if (!cert) {
        return 0;
    }
    CERT_REVOCATION_STATUS answer{};
    answer.cbSize = sizeof(answer);
    void* contexts[1] = {const_cast<CERT_CONTEXT*>(cert)};
    // Only a definite "revoked" counts: a revocation state that cannot be
    // learned (no list, offline) does not disqualify the certificate.
    if (!CertVerifyRevocation(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, CERT_CONTEXT_REVOCATION_TYPE, 1, contexts,
                              CERT_VERIFY_REV_CHAIN_FLAG, nullptr, &answer) &&
        answer.dwError == static_cast<DWORD>(CRYPT_E_REVOKED)) {
        status = CERT_STATUS_REVOKED;
    }
    return 0;
}

int ControllerPKI::checkCertificateIsQualified(const CCertObject& cert, int& status) {
    if (!tesel::CClient::checkINN(cert.getSubjectAttr(tesel::OID_INN), cert.getTypeSubject())) {
        status = CERT_STATUS_NOT_QUALIFIED;
    }
    return 0;
}

namespace {

// The raw key value at the end of a public key blob: a 16-byte header whose
// last four bytes are the key's length in bits (little-endian), the key's
// parameters, then the key itself. Empty for a blob that does not add up.
std::vector<unsigned char> keyValue(const tesel::CBlob& blob) {
    const unsigned char* p = blob.getData();
    const unsigned size = blob.getSize();
    if (!p || size < 16) return {};
    const unsigned bits = p[12] | p[13] << 8 | p[14] << 16 | static_cast<unsigned>(p[15]) << 24;
    const unsigned bytes = bits / 8;
    if (bytes == 0 || bits % 8 != 0 || bytes > size - 16) return {};
    return std::vector<unsigned char>(p + size - bytes, p + size);
}

}  // namespace

unsigned ControllerPKI::checkCertificateKey(const tesel::CBlob& certificate, const Crypto1By1Connect& key) {
    const CERT_CONTEXT* raw = nullptr;
    if (CryptoBase::blobToCertificate(certificate, &raw) != ERR_OK || !raw) return ERR_CERT_DAMAGED;
    tesel::CBlob fromCert;
    const unsigned r = CryptoBase::publicKeyInfoFromCert(raw, fromCert);
    CertFreeCertificateContext(raw);
    if (r != ERR_OK) return ERR_CERT_DAMAGED;
    tesel::CBlob fromContainer;
    if (key.getPublicKey(fromContainer) != ERR_OK) return ERR_CONTAINER_ADD_CERT;
    const std::vector<unsigned char> certKey = keyValue(fromCert);
    return !certKey.empty() && certKey == keyValue(fromContainer) ? ERR_OK : ERR_CONTAINER_ADD_CERT;
}

}  // namespace qn::crypto
