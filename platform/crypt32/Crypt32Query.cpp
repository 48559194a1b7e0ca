// CryptQueryObject of the crypt32 subset, with the CRL contexts and
// message handles it can hand out (CertFreeCRLContext, CryptMsgClose).
//
// As on Windows the result depends on what the blob holds: a certificate
// gives a certificate context, a revocation list a CRL context, a PKCS#7
// SignedData message no context but a store of its certificates and the
// message. Other objects (CTLs, serialized stores, PKCS#10, PFX) are not
// recognised: the call fails with CRYPT_E_NO_MATCH, as it does on Windows
// for content the caller did not ask for.
#include <mutex>
#include <set>
#include <unordered_map>

#include "platform/crypt32/CertContexts.h"
#include "platform/crypt32/QueryDecode.h"
#include "softgost/provider/CspObjects.h"

using namespace plcsp;

namespace {

struct CrlHolder {
    CRL_CONTEXT ctx{};
    CRL_INFO info{};
    Bytes der;
    ParsedCrl parsed;
    std::vector<CRL_ENTRY> entries;
};

// A decoded message: nothing in this subset reads it, it only has to be
// closed.
struct QueryMsg {
    Bytes content;
};

std::mutex& tablesMutex() {
    static std::mutex m;
    return m;
}

std::unordered_map<const CRL_CONTEXT*, CrlHolder*>& crls() {
    static auto* t = new std::unordered_map<const CRL_CONTEXT*, CrlHolder*>();
    return *t;
}

std::set<QueryMsg*>& messages() {
    static auto* t = new std::set<QueryMsg*>();
    return *t;
}

CRYPT_INTEGER_BLOB view(Bytes& b) {
    return CRYPT_INTEGER_BLOB{static_cast<DWORD>(b.size()), b.empty() ? nullptr : b.data()};
}

PCCRL_CONTEXT newCrlContext(const Bytes& der) {
    auto* h = new CrlHolder();
    h->der = der;
    if (!parseCrl(h->der.data(), h->der.size(), h->parsed)) {
        delete h;
        return nullptr;
    }
    ParsedCrl& p = h->parsed;
    for (auto& e : p.entries) {
        h->entries.push_back(CRL_ENTRY{view(e.serialLE), fileTimeOf(e.revoked), 0, nullptr});
    }
    CRL_INFO& i = h->info;
    i.dwVersion = p.version;
    i.SignatureAlgorithm.pszObjId = p.sigAlgOid.data();
    i.Issuer = view(p.issuer);
    i.ThisUpdate = fileTimeOf(p.thisUpdate);
    i.NextUpdate = p.nextUpdate ? fileTimeOf(p.nextUpdate) : FILETIME{0, 0};
    i.cCRLEntry = static_cast<DWORD>(h->entries.size());
    i.rgCRLEntry = h->entries.empty() ? nullptr : h->entries.data();
    h->ctx.dwCertEncodingType = X509_ASN_ENCODING;
    h->ctx.pbCrlEncoded = h->der.data();
    h->ctx.cbCrlEncoded = static_cast<DWORD>(h->der.size());
    h->ctx.pCrlInfo = &h->info;
    std::lock_guard<std::mutex> lock(tablesMutex());
    crls()[&h->ctx] = h;
    return &h->ctx;
}

void freeAll(const std::vector<PCCERT_CONTEXT>& certs) {
    for (PCCERT_CONTEXT c : certs) {
        CertFreeCertificateContext(c);
    }
}

}  // namespace

BOOL CryptQueryObject(DWORD dwObjectType, const void* pvObject, DWORD dwExpectedContentTypeFlags,
                      DWORD dwExpectedFormatTypeFlags, DWORD /*dwFlags*/,
                      DWORD* pdwMsgAndCertEncodingType, DWORD* pdwContentType,
                      DWORD* pdwFormatType, HCERTSTORE* phCertStore, HCRYPTMSG* phMsg,
                      const void** ppvContext) {
    if (dwObjectType != CERT_QUERY_OBJECT_BLOB || !pvObject) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const auto* blob = static_cast<const CRYPT_DATA_BLOB*>(pvObject);
    if (!blob->pbData && blob->cbData != 0) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    QueryWanted wanted;
    wanted.cert = dwExpectedContentTypeFlags & CERT_QUERY_CONTENT_FLAG_CERT;
    wanted.crl = dwExpectedContentTypeFlags & CERT_QUERY_CONTENT_FLAG_CRL;
    wanted.pkcs7 = dwExpectedContentTypeFlags & CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED;
    wanted.binary = dwExpectedFormatTypeFlags & CERT_QUERY_FORMAT_FLAG_BINARY;
    wanted.base64 = dwExpectedFormatTypeFlags & CERT_QUERY_FORMAT_FLAG_BASE64_ENCODED;
    QueryFound found;
    if (!identifyObject(blob->pbData, blob->cbData, wanted, found)) {
        return fail(CRYPT_E_NO_MATCH);
    }
    // Everything is made before anything is handed out, so that a failure
    // leaves the caller's variables alone and leaks nothing.
    std::vector<PCCERT_CONTEXT> certs;
    for (const Bytes& der : found.certs) {
        PCCERT_CONTEXT c = newCertContext(der);
        if (!c) {
            freeAll(certs);
            return fail(CRYPT_E_NO_MATCH);
        }
        certs.push_back(c);
    }
    PCCRL_CONTEXT crl = nullptr;
    if (found.content == QueryContent::Crl && ppvContext && !(crl = newCrlContext(found.der))) {
        return fail(CRYPT_E_NO_MATCH);
    }
    HCERTSTORE store = nullptr;
    if (phCertStore) {
        for (PCCERT_CONTEXT c : certs) {
            CertDuplicateCertificateContext(c);
        }
        store = newMemoryStore(certs);  // takes the new references
    }
    DWORD contentType = CERT_QUERY_CONTENT_CERT;
    if (found.content == QueryContent::Crl) {
        contentType = CERT_QUERY_CONTENT_CRL;
        if (ppvContext) *ppvContext = crl;
    } else if (found.content == QueryContent::Pkcs7Signed) {
        contentType = CERT_QUERY_CONTENT_PKCS7_SIGNED;
        if (phMsg) {
            auto* msg = new QueryMsg{found.der};
            std::lock_guard<std::mutex> lock(tablesMutex());
            messages().insert(msg);
            *phMsg = msg;
        }
    } else if (ppvContext && !certs.empty()) {
        *ppvContext = CertDuplicateCertificateContext(certs.front());
    }
    freeAll(certs);
    if (pdwMsgAndCertEncodingType) {
        *pdwMsgAndCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    }
    if (pdwContentType) {
        *pdwContentType = contentType;
    }
    if (pdwFormatType) {
        *pdwFormatType = found.base64 ? CERT_QUERY_FORMAT_BASE64_ENCODED : CERT_QUERY_FORMAT_BINARY;
    }
    if (phCertStore) {
        *phCertStore = store;
    }
    if (phMsg && found.content != QueryContent::Pkcs7Signed) {
        *phMsg = nullptr;
    }
    return TRUE;
}

BOOL CertFreeCRLContext(PCCRL_CONTEXT pCrlContext) {
    if (!pCrlContext) {
        return TRUE;
    }
    CrlHolder* dead = nullptr;
    {
        std::lock_guard<std::mutex> lock(tablesMutex());
        auto it = crls().find(pCrlContext);
        if (it == crls().end()) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        dead = it->second;
        crls().erase(it);
    }
    delete dead;
    return TRUE;
}

BOOL CryptMsgClose(HCRYPTMSG hCryptMsg) {
    if (!hCryptMsg) {
        return TRUE;
    }
    auto* msg = static_cast<QueryMsg*>(hCryptMsg);
    {
        std::lock_guard<std::mutex> lock(tablesMutex());
        if (!messages().erase(msg)) {
            return fail(ERROR_INVALID_PARAMETER);
        }
    }
    delete msg;
    return TRUE;
}
