#include "platform/crypt32_win/LocalRevocation.h"

#include <cstring>
#include <map>

namespace plwin {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// Bounds on the work one check does, whatever the stores hold.
constexpr std::size_t kMaxIssuers = 16;
constexpr std::size_t kMaxCrls = 256;
// CRLReason removeFromCRL: the entry takes an earlier revocation back.
constexpr DWORD kRemoveFromCrl = 8;

// The provider type that verifies signatures of a GOST key; 0 (the
// system's default provider) for any other key.
DWORD providerTypeOfKey(const char* oid) {
    if (!oid) return 0;
    if (std::strcmp(oid, "1.2.643.2.2.19") == 0) return PROV_GOST_2001_DH;
    if (std::strcmp(oid, "1.2.643.7.1.1.1.1") == 0) return PROV_GOST_2012_256;
    if (std::strcmp(oid, "1.2.643.7.1.1.1.2") == 0) return PROV_GOST_2012_512;
    return 0;
}

// Verify contexts by provider type, acquired once per check.
class VerifyProviders {
public:
    VerifyProviders() = default;
    VerifyProviders(const VerifyProviders&) = delete;
    VerifyProviders& operator=(const VerifyProviders&) = delete;
    ~VerifyProviders() {
        for (auto& [type, prov] : m_provs) {
            if (prov) CryptReleaseContext(prov, 0);
        }
    }

    // False when a GOST key's provider cannot be had (nothing can then
    // verify under that key).
    bool get(DWORD type, HCRYPTPROV& prov) {
        prov = 0;
        if (type == 0) return true;
        auto it = m_provs.find(type);
        if (it == m_provs.end()) {
            HCRYPTPROV h = 0;
            if (!CryptAcquireContextA(&h, nullptr, nullptr, type, CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) h = 0;
            it = m_provs.emplace(type, h).first;
        }
        prov = it->second;
        return prov != 0;
    }

private:
    std::map<DWORD, HCRYPTPROV> m_provs;
};

// Whether subject (a certificate or a CRL context, by subjectType) carries
// a valid signature under issuer's public key.
bool signedBy(VerifyProviders& provs, DWORD subjectType, const void* subject, PCCERT_CONTEXT issuer) {
    HCRYPTPROV prov = 0;
    if (!provs.get(providerTypeOfKey(issuer->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId), prov)) {
        return false;
    }
    return CryptVerifyCertificateSignatureEx(prov, X509_ASN_ENCODING, subjectType, const_cast<void*>(subject),
                                             CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
                                             const_cast<CERT_CONTEXT*>(issuer), 0, nullptr) != FALSE;
}

bool sameEncoding(PCCERT_CONTEXT a, PCCERT_CONTEXT b) {
    return a->cbCertEncoded == b->cbCertEncoded &&
           std::memcmp(a->pbCertEncoded, b->pbCertEncoded, a->cbCertEncoded) == 0;
}

// The certificates that signed query.cert: the hint and the certificates
// of the stores whose subject is cert's issuer, each only if cert's
// signature verifies under its key. References of their own.
std::vector<PCCERT_CONTEXT> verifiedIssuers(const LocalCrlQuery& query, VerifyProviders& provs) {
    std::vector<PCCERT_CONTEXT> candidates;
    if (query.issuerHint && query.issuerHint->pCertInfo) {
        candidates.push_back(CertDuplicateCertificateContext(query.issuerHint));
    }
    for (HCERTSTORE store : query.stores) {
        PCCERT_CONTEXT found = nullptr;
        while (candidates.size() < kMaxIssuers &&
               (found = CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_SUBJECT_NAME,
                                                   &query.cert->pCertInfo->Issuer, found)) != nullptr) {
            bool seen = false;
            for (PCCERT_CONTEXT c : candidates) seen = seen || sameEncoding(c, found);
            if (!seen) candidates.push_back(CertDuplicateCertificateContext(found));
        }
        if (found) CertFreeCertificateContext(found);
    }
    std::vector<PCCERT_CONTEXT> issuers;
    for (PCCERT_CONTEXT c : candidates) {
        if (c->pCertInfo && signedBy(provs, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT, query.cert, c)) {
            issuers.push_back(c);
        } else {
            CertFreeCertificateContext(c);
        }
    }
    return issuers;
}

bool isCurrent(const CRL_INFO& info, const FILETIME& now) {
    if (CompareFileTime(&now, &info.ThisUpdate) < 0) return false;
    const bool noNextUpdate = info.NextUpdate.dwLowDateTime == 0 && info.NextUpdate.dwHighDateTime == 0;
    return noNextUpdate || CompareFileTime(&now, &info.NextUpdate) <= 0;
}

// A CRL with a critical extension (a partition of the issuer's
// certificates, a delta list, or one unknown here) may name a certificate
// as revoked, but its silence says nothing.
bool isComplete(const CRL_INFO& info) {
    for (DWORD i = 0; i < info.cExtension; ++i) {
        if (info.rgExtension[i].fCritical) return false;
    }
    return true;
}

DWORD reasonOf(const CRL_ENTRY& entry) {
    const CERT_EXTENSION* ext =
        entry.cExtension ? CertFindExtension(szOID_CRL_REASON_CODE, entry.cExtension, entry.rgExtension) : nullptr;
    int code = 0;
    DWORD size = sizeof(code);
    if (!ext || !CryptDecodeObject(X509_ASN_ENCODING, X509_CRL_REASON_CODE, ext->Value.pbData, ext->Value.cbData, 0,
                                   &code, &size)) {
        return CRL_REASON_UNSPECIFIED;
    }
    return code > 0 && code <= 10 ? static_cast<DWORD>(code) : CRL_REASON_UNSPECIFIED;
}

// What one CRL of the issuer's name says of cert. A CRL whose signature
// does not verify says nothing, not even that it is out of date.
enum class CrlSays { Nothing, Revoked, Good, Stale };

CrlSays judge(const LocalCrlQuery& query, PCCRL_CONTEXT crl, const std::vector<PCCERT_CONTEXT>& issuers,
              VerifyProviders& provs, DWORD& reason) {
    bool verified = false;
    for (PCCERT_CONTEXT issuer : issuers) {
        verified = verified || signedBy(provs, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CRL, crl, issuer);
    }
    if (!verified) return CrlSays::Nothing;
    if (!isCurrent(*crl->pCrlInfo, query.now)) return CrlSays::Stale;
    PCRL_ENTRY entry = nullptr;
    if (!CertFindCertificateInCRL(query.cert, crl, 0, nullptr, &entry)) return CrlSays::Nothing;
    if (entry) {
        const DWORD r = reasonOf(*entry);
        if (r != kRemoveFromCrl) {
            reason = r;
            return CrlSays::Revoked;
        }
    }
    return isComplete(*crl->pCrlInfo) ? CrlSays::Good : CrlSays::Nothing;
}

// The CRLs of the stores under the name of cert's issuer. References of
// their own.
std::vector<PCCRL_CONTEXT> crlsNamedAfterIssuer(const LocalCrlQuery& query) {
    std::vector<PCCRL_CONTEXT> crls;
    for (HCERTSTORE store : query.stores) {
        PCCRL_CONTEXT crl = nullptr;
        while (crls.size() < kMaxCrls && (crl = CertEnumCRLsInStore(store, crl)) != nullptr) {
            if (crl->pCrlInfo && CertCompareCertificateName(X509_ASN_ENCODING, &crl->pCrlInfo->Issuer,
                                                            &query.cert->pCertInfo->Issuer)) {
                crls.push_back(CertDuplicateCRLContext(crl));
            }
        }
        if (crl) CertFreeCRLContext(crl);
    }
    return crls;
}

}  // namespace

LocalCrlVerdict checkLocalCrls(const LocalCrlQuery& query, DWORD& reason) {
    reason = CRL_REASON_UNSPECIFIED;
    if (!query.cert || !query.cert->pCertInfo) return LocalCrlVerdict::NoCrl;
    const std::vector<PCCRL_CONTEXT> crls = crlsNamedAfterIssuer(query);
    if (crls.empty()) return LocalCrlVerdict::NoCrl;  // no issuer need be looked for
    VerifyProviders provs;
    const std::vector<PCCERT_CONTEXT> issuers = verifiedIssuers(query, provs);
    bool good = false;
    bool stale = false;
    bool revoked = false;
    for (std::size_t i = 0; i < crls.size() && !issuers.empty() && !revoked; ++i) {
        switch (judge(query, crls[i], issuers, provs, reason)) {
            case CrlSays::Revoked: revoked = true; break;
            case CrlSays::Good: good = true; break;
            case CrlSays::Stale: stale = true; break;
            case CrlSays::Nothing: break;
        }
    }
    for (PCCERT_CONTEXT issuer : issuers) CertFreeCertificateContext(issuer);
    for (PCCRL_CONTEXT crl : crls) CertFreeCRLContext(crl);
    if (revoked) return LocalCrlVerdict::Revoked;
    reason = CRL_REASON_UNSPECIFIED;
    if (good) return LocalCrlVerdict::Good;
    return stale ? LocalCrlVerdict::Stale : LocalCrlVerdict::NoCrl;
}

std::vector<HCERTSTORE> openUserCrlStores() {
    static const wchar_t* const kNames[] = {L"CA", L"ROOT", L"AddressBook", L"MY"};
    std::vector<HCERTSTORE> stores;
    for (const wchar_t* name : kNames) {
        HCERTSTORE s = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, kEncoding, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG |
                                         CERT_STORE_OPEN_EXISTING_FLAG,
                                     name);
        if (s) stores.push_back(s);
    }
    return stores;
}

}  // namespace plwin
