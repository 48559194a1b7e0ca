// Certificate contexts of the crypt32 subset: CertCreateCertificateContext,
// CertDuplicateCertificateContext, CertFreeCertificateContext, the key
// container property (CertSet/GetCertificateContextProperty) and
// CryptAcquireCertificatePrivateKey.
//
// A context is filled as Windows fills it: the encoded certificate, the
// serial number least significant byte first, the names as their raw DER,
// the times as FILETIME, the public key info and the extensions. Contexts
// are reference counted (duplicating returns the same pointer) and known to
// a table, so freeing an unknown pointer fails instead of corrupting memory.
#include <mutex>
#include <unordered_map>

#include "platform/crypt32/CertContexts.h"
#include "softgost/provider/CertParse.h"
#include "softgost/provider/CspObjects.h"

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
    bool hasLink = false;  // CERT_KEY_PROV_INFO_PROP_ID, under tableMutex()
    KeyProvLink link;
};

std::mutex& tableMutex() {
    static std::mutex m;
    return m;
}

std::unordered_map<const CERT_CONTEXT*, CertHolder*>& table() {
    static auto* t = new std::unordered_map<const CERT_CONTEXT*, CertHolder*>();
    return *t;
}

CRYPT_INTEGER_BLOB view(Bytes& b) {
    return CRYPT_INTEGER_BLOB{static_cast<DWORD>(b.size()), b.empty() ? nullptr : b.data()};
}

}  // namespace

FILETIME plcsp::fileTimeOf(std::int64_t unixSeconds) {
    // 100-ns ticks since 1601-01-01.
    const std::uint64_t ticks = static_cast<std::uint64_t>(unixSeconds + 11644473600LL) * 10000000ULL;
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

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
    i.NotBefore = fileTimeOf(p.notBefore);
    i.NotAfter = fileTimeOf(p.notAfter);
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

bool plcsp::isCertContext(PCCERT_CONTEXT c) {
    std::lock_guard<std::mutex> lock(tableMutex());
    return table().count(c) != 0;
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


bool plcsp::keyProvOf(PCCERT_CONTEXT cert, KeyProvLink& out) {
    std::lock_guard<std::mutex> lock(tableMutex());
    auto it = table().find(cert);
    if (it == table().end() || !it->second->hasLink) {
        return false;
    }
    out = it->second->link;
    return true;
}

void plcsp::setKeyProv(PCCERT_CONTEXT cert, const KeyProvLink* link) {
    std::lock_guard<std::mutex> lock(tableMutex());
    auto it = table().find(cert);
    if (it == table().end()) {
        return;
    }
    it->second->hasLink = link != nullptr;
    it->second->link = link ? *link : KeyProvLink{};
}
