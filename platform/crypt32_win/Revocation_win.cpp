// CertVerifyRevocation as the program calls it on Windows (platform/wincrypt.h
// names this function so): the system's revocation check first; where it
// cannot decide for a certificate (no revocation provider understands the
// GOST signature of its CRL, the CRL server is out of reach), the CRLs of the
// certificate's issuer in the user's stores decide (LocalRevocation.h). A
// CRL that does not verify or is not current decides nothing: the system's
// answer then stands.
#include <cstddef>

#include "platform/crypt32_win/LocalRevocation.h"
#include "platform/wincrypt.h"

// Below, the system's own function.
#undef CertVerifyRevocation

namespace {

bool undecided(DWORD error) {
    return error == static_cast<DWORD>(CRYPT_E_NO_REVOCATION_CHECK) ||
           error == static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE) ||
           error == static_cast<DWORD>(CRYPT_E_NO_REVOCATION_DLL) ||
           error == static_cast<DWORD>(CRYPT_E_NOT_IN_REVOCATION_DATABASE);
}

// Whether the caller's structure reaches the field that ends at end.
bool paraHas(const CERT_REVOCATION_PARA* para, std::size_t end) { return para && para->cbSize >= end; }

class Stores {
public:
    Stores() = default;
    Stores(const Stores&) = delete;
    Stores& operator=(const Stores&) = delete;
    ~Stores() {
        for (HCERTSTORE s : m_own) CertCloseStore(s, 0);
    }

    // The caller's CRL and certificate stores, then the user's system stores.
    const std::vector<HCERTSTORE>& get(const CERT_REVOCATION_PARA* para) {
        if (m_opened) return m_all;
        m_opened = true;
        if (paraHas(para, offsetof(CERT_REVOCATION_PARA, hCrlStore) + sizeof(HCERTSTORE))) {
            if (para->hCrlStore) m_all.push_back(para->hCrlStore);
            for (DWORD i = 0; para->rgCertStore && i < para->cCertStore; ++i) {
                if (para->rgCertStore[i]) m_all.push_back(para->rgCertStore[i]);
            }
        }
        m_own = plwin::openUserCrlStores();
        m_all.insert(m_all.end(), m_own.begin(), m_own.end());
        return m_all;
    }

private:
    bool m_opened = false;
    std::vector<HCERTSTORE> m_all;
    std::vector<HCERTSTORE> m_own;
};

FILETIME timeToUse(const CERT_REVOCATION_PARA* para) {
    if (paraHas(para, offsetof(CERT_REVOCATION_PARA, pftTimeToUse) + sizeof(LPFILETIME)) && para->pftTimeToUse) {
        return *para->pftTimeToUse;
    }
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return now;
}

// The issuer the caller names for the certificate at index: the next one
// of a chain, or the revocation parameters' issuer for the last.
PCCERT_CONTEXT issuerHint(DWORD index, DWORD count, void* contexts[], DWORD flags, const CERT_REVOCATION_PARA* para) {
    if ((flags & CERT_VERIFY_REV_CHAIN_FLAG) && index + 1 < count) {
        return static_cast<PCCERT_CONTEXT>(contexts[index + 1]);
    }
    if (index + 1 == count && paraHas(para, offsetof(CERT_REVOCATION_PARA, pIssuerCert) + sizeof(PCCERT_CONTEXT))) {
        return para->pIssuerCert;
    }
    return nullptr;
}

BOOL answer(PCERT_REVOCATION_STATUS status, DWORD index, DWORD error, DWORD reason) {
    status->dwIndex = index;
    status->dwError = error;
    status->dwReason = reason;
    SetLastError(error);
    return FALSE;
}

}  // namespace

BOOL plCertVerifyRevocation(DWORD dwEncodingType, DWORD dwRevType, DWORD cContext, void* rgpvContext[],
                            DWORD dwFlags, PCERT_REVOCATION_PARA pRevPara, PCERT_REVOCATION_STATUS pRevStatus) {
    const bool canAnswer = pRevStatus &&
                           pRevStatus->cbSize >= offsetof(CERT_REVOCATION_STATUS, dwReason) + sizeof(DWORD) &&
                           dwRevType == CERT_CONTEXT_REVOCATION_TYPE && rgpvContext;
    Stores stores;
    // The certificates before start are known not to be revoked.
    DWORD start = 0;
    for (;;) {
        if (CertVerifyRevocation(dwEncodingType, dwRevType, cContext - start, rgpvContext ? rgpvContext + start : nullptr,
                                 dwFlags, pRevPara, pRevStatus)) {
            return TRUE;
        }
        const DWORD error = GetLastError();
        if (!canAnswer) return FALSE;
        const DWORD at = start + pRevStatus->dwIndex;
        if (!undecided(pRevStatus->dwError) || at >= cContext || !rgpvContext[at]) {
            pRevStatus->dwIndex = at;
            SetLastError(error);
            return FALSE;
        }
        plwin::LocalCrlQuery query;
        query.cert = static_cast<PCCERT_CONTEXT>(rgpvContext[at]);
        query.issuerHint = issuerHint(at, cContext, rgpvContext, dwFlags, pRevPara);
        query.stores = stores.get(pRevPara);
        query.now = timeToUse(pRevPara);
        DWORD reason = 0;
        switch (plwin::checkLocalCrls(query, reason)) {
            case plwin::LocalCrlVerdict::Revoked:
                return answer(pRevStatus, at, static_cast<DWORD>(CRYPT_E_REVOKED), reason);
            case plwin::LocalCrlVerdict::Stale:
                return answer(pRevStatus, at, static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE), 0);
            case plwin::LocalCrlVerdict::NoCrl:
                pRevStatus->dwIndex = at;  // the system's answer stands
                SetLastError(error);
                return FALSE;
            case plwin::LocalCrlVerdict::Good:
                break;
        }
        start = at + 1;
        if (start >= cContext) {
            pRevStatus->dwIndex = 0;
            pRevStatus->dwError = 0;
            pRevStatus->dwReason = 0;
            SetLastError(0);
            return TRUE;
        }
    }
}
