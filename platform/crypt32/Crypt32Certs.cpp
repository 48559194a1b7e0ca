// Certificate contexts of the crypt32 subset: CryptQueryObject,
// CertCreateCertificateContext, CertDuplicateCertificateContext,
// CertFreeCertificateContext and CryptAcquireCertificatePrivateKey.
//
// A context is filled as Windows fills it: the encoded certificate, the
// serial number least significant byte first, the names as their raw DER,
// the times as FILETIME, the public key info and the extensions. Contexts
// are reference counted (duplicating returns the same pointer) and known to
// a table, so freeing an unknown pointer fails instead of corrupting memory.
#include <atomic>
#include <mutex>
#include <unordered_map>

#include "platform/crypt32/CertContexts.h"
#include "softgost/provider/CertParse.h"
#include "softgost/provider/CspObjects.h"
#include "softgost/provider/KeyContainerStore.h"

using namespace plcsp;

namespace {

struct CertHolder {
    CERT_CONTEXT ctx{};
    CERT_INFO info{};
    int refs = 1;
    Bytes der;
    ParsedCert parsed;
    std::string sigAlgOid;
    std::string spkiOid;
    std::vector<CERT_EXTENSION> exts;
};

std::mutex& tableMutex() {
    static std::mutex m;
    return m;
}

std::unordered_map<const CERT_CONTEXT*, CertHolder*>& table() {
    static auto* t = new std::unordered_map<const CERT_CONTEXT*, CertHolder*>();
    return *t;
}

FILETIME toFileTime(std::int64_t unixSeconds) {
    // 100-ns ticks since 1601-01-01.
    const std::uint64_t ticks = static_cast<std::uint64_t>(unixSeconds + 11644473600LL) * 10000000ULL;
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

CRYPT_INTEGER_BLOB view(Bytes& b) {
    return CRYPT_INTEGER_BLOB{static_cast<DWORD>(b.size()), b.empty() ? nullptr : b.data()};
}

}  // namespace

PCCERT_CONTEXT plcsp::newCertContext(const Bytes& der) {
    auto* h = new CertHolder();
    h->der = der;
    if (!parseCertificate(h->der.data(), h->der.size(), h->parsed)) {
        delete h;
        return nullptr;
    }
    ParsedCert& p = h->parsed;
    h->sigAlgOid = p.sigAlgOid;
    h->spkiOid = p.spkiAlgOid;
    CERT_INFO& i = h->info;
    i.dwVersion = p.version;
    i.SerialNumber = view(p.serialLE);
    i.SignatureAlgorithm.pszObjId = h->sigAlgOid.data();
    i.SignatureAlgorithm.Parameters = view(p.sigAlgParams);
    i.Issuer = view(p.issuer);
    i.NotBefore = toFileTime(p.notBefore);
    i.NotAfter = toFileTime(p.notAfter);
    i.Subject = view(p.subject);
    i.SubjectPublicKeyInfo.Algorithm.pszObjId = h->spkiOid.data();
    i.SubjectPublicKeyInfo.Algorithm.Parameters = view(p.spkiAlgParams);
    auto key = view(p.spkiKey);
    i.SubjectPublicKeyInfo.PublicKey = CRYPT_BIT_BLOB{key.cbData, key.pbData, p.spkiUnusedBits};
    auto iu = view(p.issuerUid), su = view(p.subjectUid);
    i.IssuerUniqueId = CRYPT_BIT_BLOB{iu.cbData, iu.pbData, 0};
    i.SubjectUniqueId = CRYPT_BIT_BLOB{su.cbData, su.pbData, 0};
    for (auto& e : p.extensions) {
        h->exts.push_back(CERT_EXTENSION{e.oid.data(), e.critical ? TRUE : FALSE, view(e.value)});
    }
    i.cExtension = static_cast<DWORD>(h->exts.size());
    i.rgExtension = h->exts.empty() ? nullptr : h->exts.data();
    h->ctx.dwCertEncodingType = X509_ASN_ENCODING;
    h->ctx.pbCertEncoded = h->der.data();
    h->ctx.cbCertEncoded = static_cast<DWORD>(h->der.size());
    h->ctx.pCertInfo = &h->info;
    h->ctx.hCertStore = nullptr;
    std::lock_guard<std::mutex> lock(tableMutex());
    table()[&h->ctx] = h;
    return &h->ctx;
}

namespace {

bool isKnownContext(PCCERT_CONTEXT c) {
    std::lock_guard<std::mutex> lock(tableMutex());
    return table().count(c) != 0;
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
    const bool tryCert = dwExpectedContentTypeFlags & CERT_QUERY_CONTENT_FLAG_CERT;
    const bool tryPkcs7 = dwExpectedContentTypeFlags & (CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED |
                                                        CERT_QUERY_CONTENT_FLAG_PKCS7_UNSIGNED);
    const bool tryBinary = dwExpectedFormatTypeFlags & CERT_QUERY_FORMAT_FLAG_BINARY;
    const bool tryBase64 = dwExpectedFormatTypeFlags & CERT_QUERY_FORMAT_FLAG_BASE64_ENCODED;
    Bytes der;
    CertContent content = CertContent::None;
    CertFormat format = CertFormat::None;
    if (!findCertificate(blob->pbData, blob->cbData, tryCert, tryPkcs7, tryBinary, tryBase64, der,
                         content, format)) {
        return fail(CRYPT_E_NO_MATCH);
    }
    PCCERT_CONTEXT ctx = nullptr;
    if (ppvContext) {
        // A PKCS#7 message yields its first certificate as the context.
        ctx = newCertContext(der);
        if (!ctx) {
            return fail(CRYPT_E_NO_MATCH);
        }
        *ppvContext = ctx;
    }
    if (pdwMsgAndCertEncodingType) {
        *pdwMsgAndCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    }
    if (pdwContentType) {
        *pdwContentType = content == CertContent::Certificate ? CERT_QUERY_CONTENT_CERT
                                                              : CERT_QUERY_CONTENT_PKCS7_SIGNED;
    }
    if (pdwFormatType) {
        *pdwFormatType = format == CertFormat::Binary ? CERT_QUERY_FORMAT_BINARY
                                                      : CERT_QUERY_FORMAT_BASE64_ENCODED;
    }
    if (phCertStore) {
        *phCertStore = nullptr;
    }
    if (phMsg) {
        *phMsg = nullptr;
    }
    return TRUE;
}

PCCERT_CONTEXT CertCreateCertificateContext(DWORD /*dwCertEncodingType*/, const BYTE* pbCertEncoded,
                                            DWORD cbCertEncoded) {
    if (!pbCertEncoded || cbCertEncoded == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    PCCERT_CONTEXT c = newCertContext(Bytes(pbCertEncoded, pbCertEncoded + cbCertEncoded));
    if (!c) {
        SetLastError(CRYPT_E_BAD_ENCODE);
    }
    return c;
}

PCCERT_CONTEXT CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext) {
    std::lock_guard<std::mutex> lock(tableMutex());
    auto it = table().find(pCertContext);
    if (it == table().end()) {
        return nullptr;
    }
    ++it->second->refs;
    return pCertContext;
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext) {
    if (!pCertContext) {
        return TRUE;
    }
    CertHolder* dead = nullptr;
    {
        std::lock_guard<std::mutex> lock(tableMutex());
        auto it = table().find(pCertContext);
        if (it == table().end()) {
            return fail(ERROR_INVALID_PARAMETER);
        }
        if (--it->second->refs == 0) {
            dead = it->second;
            table().erase(it);
        }
    }
    delete dead;
    return TRUE;
}

BOOL CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT pCert, DWORD /*dwFlags*/, void* /*pvParameters*/,
                                       HCRYPTPROV_OR_NCRYPT_KEY_HANDLE* phCryptProvOrNCryptKey,
                                       DWORD* pdwKeySpec, BOOL* pfCallerFreeProvOrNCryptKey) {
    if (!pCert || !phCryptProvOrNCryptKey || !isKnownContext(pCert)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const CERT_PUBLIC_KEY_INFO& spki = pCert->pCertInfo->SubjectPublicKeyInfo;
    Bytes value;
    if (!gostKeyValue(Bytes(spki.PublicKey.pbData, spki.PublicKey.pbData + spki.PublicKey.cbData),
                      value)) {
        return fail(CRYPT_E_NO_KEY_PROPERTY);
    }
    // The container whose public key equals the certificate's holds its key.
    for (const std::string& name : containers::list()) {
        StoredKey stored;
        if (containers::readKey(name, false, stored) != 0 || stored.pub != value) {
            continue;
        }
        HCRYPTPROV prov = 0;
        if (!CryptAcquireContextA(&prov, name.c_str(), nullptr, stored.provType, 0)) {
            return FALSE;
        }
        *phCryptProvOrNCryptKey = prov;
        if (pdwKeySpec) {
            *pdwKeySpec = AT_KEYEXCHANGE;
        }
        if (pfCallerFreeProvOrNCryptKey) {
            *pfCallerFreeProvOrNCryptKey = TRUE;
        }
        return TRUE;
    }
    return fail(CRYPT_E_NO_KEY_PROPERTY);
}
