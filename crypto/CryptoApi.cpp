// CryptoApi: opening providers, provider information, signatures, the
// certificate of the container and the certificate list.
#include "crypto/CryptoApi.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/TextConvert.h"
#include "crypto/CryptoCert.h"
#include "crypto/CspAlgorithms.h"
#include "errors/eErrCodes.h"

namespace qn::crypto {

namespace {

// Reads a zero-terminated text parameter with the two-call size query.
bool provText(HCRYPTPROV prov, DWORD param, DWORD flags, std::string& out) {
    DWORD n = 0;
    if (!CryptGetProvParam(prov, param, nullptr, &n, flags)) {
        return false;
    }
    std::string buf(n, '\0');
    if (!CryptGetProvParam(prov, param, reinterpret_cast<BYTE*>(buf.data()), &n, flags)) {
        return false;
    }
    buf.resize(n);
    const std::size_t zero = buf.find('\0');
    out = zero == std::string::npos ? buf : buf.substr(0, zero);
    return true;
}

}  // namespace

CryptoApi::~CryptoApi() {
    if (m_userKey) {
        CryptDestroyKey(m_userKey);
    }
    if (m_provider) {
        CryptReleaseContext(m_provider, 0);
    }
}

bool CryptoApi::acquire(const char* container, eSupportCP kind, DWORD flags, CryptoApi** out) {
    auto* p = new CryptoApi();
    p->setCSP(kind);
    *out = p;
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextA(&prov, container, nullptr, static_cast<DWORD>(kind), flags)) {
        return false;
    }
    p->m_provider = prov;
    return true;
}

bool CryptoApi::loadUserKey() {
    HCRYPTKEY key = 0;
    if (!CryptGetUserKey(static_cast<HCRYPTPROV>(m_provider), AT_KEYEXCHANGE, &key)) {
        return false;
    }
    m_userKey = key;
    return true;
}

unsigned CryptoApi::init(eSupportCP kind, CryptoApi** out) {
    return acquire(nullptr, kind, CRYPT_VERIFYCONTEXT, out) ? ERR_OK : ERR_CSP_NOT_INITIALIZED;
}

unsigned CryptoApi::init(const std::string& container, eSupportCP kind, CryptoApi** out) {
    if (!acquire(container.c_str(), kind, 0, out) || !(*out)->loadUserKey()) {
        return ERR_CONTAINER_OPEN;
    }
    return ERR_OK;
}

unsigned CryptoApi::init(const CERT_CONTEXT* cert, CryptoApi** out) {
    auto* p = new CryptoApi();
    *out = p;
    if (!cert) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE prov = 0;
    DWORD keySpec = 0;
    BOOL callerFree = FALSE;
    if (!CryptAcquireCertificatePrivateKey(cert, 0, nullptr, &prov, &keySpec, &callerFree)) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    p->m_provider = prov;
    DWORD type = 0;
    DWORD n = sizeof type;
    if (!CryptGetProvParam(prov, PP_PROVTYPE, reinterpret_cast<BYTE*>(&type), &n, 0)) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    p->setCSP(static_cast<eSupportCP>(type));
    if (getSupportCryptoInterface(p->m_csp) != 1) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    return p->loadUserKey() ? ERR_OK : ERR_CONTAINER_OPEN;
}

unsigned CryptoApi::create(const std::string& container, eSupportCP kind, CryptoApi** out) {
    if (!acquire(container.c_str(), kind, CRYPT_NEWKEYSET, out)) {
        return ERR_CONTAINER_NOT_CREATED;
    }
    CryptoApi* p = *out;
    HCRYPTKEY key = 0;
    const DWORD flags = (getPubKeySize(kind) << 16) | CRYPT_EXPORTABLE;
    if (!CryptGenKey(static_cast<HCRYPTPROV>(p->m_provider), AT_KEYEXCHANGE, flags, &key)) {
        return ERR_CREATE_KEY_PAIR;
    }
    p->m_userKey = key;
    return ERR_OK;
}

unsigned CryptoApi::remove(const std::string&, eSupportCP) { return ERR_OK; }

bool CryptoApi::linkCertToContainer(const CERT_CONTEXT* cert, const std::string& container, eSupportCP kind) {
    if (!cert) {
        return false;
    }
    // The provider reads a narrow name in the ANSI code page; the property
    // holds the same name in UTF-16.
    std::unique_ptr<WCHAR, void (*)(void*)> wide(tesel::convertToWideChar(&container), std::free);
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = wide.get();
    info.pwszProvName = nullptr;
    info.dwProvType = static_cast<DWORD>(kind);
    info.dwFlags = 0;
    info.dwKeySpec = AT_KEYEXCHANGE;
    return CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, &info) != FALSE;
}

unsigned CryptoApi::release() { return ERR_OK; }

unsigned CryptoApi::getCspVersion(std::string& out) const {
    DWORD version = 0;
    DWORD n = sizeof version;
    if (!CryptGetProvParam(m_provider, PP_VERSION, reinterpret_cast<BYTE*>(&version), &n, 0)) {
        return ERR_INTERNAL;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d", static_cast<int>((version >> 8) & 0xFF),
                  static_cast<int>(version & 0xFF));
    out = text;
    return ERR_OK;
}

unsigned CryptoApi::getCspInfo(UserCspInfo& out) const {
    if (!m_provider) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    std::string version;
    if (const unsigned r = getCspVersion(version)) {
        return r;
    }
    out.setCspType(m_csp);
    out.setCspVersion(version);
    return ERR_OK;
}

unsigned CryptoApi::getUniqueContainer(std::string& out) const {
    return provText(m_provider, PP_UNIQUE_CONTAINER, 0, out) ? ERR_OK : ERR_INTERNAL;
}

unsigned CryptoApi::getPublicKeyBlob(tesel::CBlob& out) const {
    DWORD n = 0;
    if (!CryptExportKey(m_userKey, 0, PUBLICKEYBLOB, 0, nullptr, &n)) {
        return ERR_INTERNAL;
    }
    tesel::CBlob blob(n);
    if (!CryptExportKey(m_userKey, 0, PUBLICKEYBLOB, 0, blob.getData(), &n) || n > blob.getSize()) {
        return ERR_INTERNAL;
    }
    out.init(blob.getData(), n);
    return ERR_OK;
}

unsigned CryptoApi::enumContainers(DWORD extraFlags, std::vector<std::string>& names) const {
    DWORD flags = CRYPT_FIRST | extraFlags;
    std::string name;
    while (provText(m_provider, PP_ENUMCONTAINERS, flags, name)) {
        names.push_back(name);
        flags = CRYPT_NEXT;
    }
    return ERR_OK;
}

unsigned CryptoApi::getContainersList(std::vector<std::string>& names) const {
    if (!names.empty() || isVipnet()) {
        return ERR_OK;
    }
    return enumContainers(0, names);
}

unsigned CryptoApi::getContainersAllList(std::vector<std::string>& names,
                                         std::vector<std::string>& fullNames) const {
    const unsigned r = getContainersList(names);
    if (r != ERR_OK) {
        return r;
    }
    return enumContainers(CRYPT_FQCN, fullNames);
}

unsigned CryptoApi::removeKeyPair(const std::string& container) {
    HCRYPTPROV prov = 0;
    CryptAcquireContextA(&prov, container.c_str(), nullptr, static_cast<DWORD>(m_csp), CRYPT_DELETEKEYSET);
    return ERR_OK;
}

unsigned CryptoApi::signData(const unsigned char* data, unsigned n, unsigned char* signature) const {
    if (!m_provider) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    HCRYPTHASH hash = 0;
    if (m_szSign == 0 || !CryptCreateHash(m_provider, getHashAlgId(m_csp), 0, 0, &hash)) {
        return ERR_SIGN;
    }
    DWORD sigLen = m_szSign;
    const bool ok = CryptHashData(hash, data, n, 0) &&
                    CryptSignHashA(hash, AT_KEYEXCHANGE, nullptr, 0, signature, &sigLen) && sigLen == m_szSign;
    CryptDestroyHash(hash);
    return ok ? ERR_OK : ERR_SIGN;
}

unsigned CryptoApi::signMessage(const tesel::CBlob& data, tesel::CBlob& out) const {
    if (!m_provider) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    const unsigned size = data.getSize();
    tesel::CBlob result(size + m_szSign);
    if (const unsigned r = signData(data.getData(), size, result.getData() + size)) {
        return r;
    }
    result.serialize(data.getData(), size);
    result.moveOffset(0);
    out = std::move(result);
    return ERR_OK;
}

unsigned CryptoApi::verifySignMessage(const tesel::CBlob& signedData, CryptoHandle peerKey) const {
    return verifySignData(signedData.getBLOB(), peerKey);
}

unsigned CryptoApi::verifySignData(const tesel::BLOB& signedData, CryptoHandle peerKey) const {
    if (!m_provider) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    const unsigned size = signedData.cbData;
    if (m_szSign == 0 || size < m_szSign) {
        return ERR_PACKET_INTEGRITY;  // no room for a signature
    }
    const unsigned dataLen = size - m_szSign;
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(m_provider, getHashAlgId(m_csp), 0, 0, &hash)) {
        return ERR_PACKET_INTEGRITY;
    }
    const bool ok = CryptHashData(hash, signedData.pbData, dataLen, 0) &&
                    CryptVerifySignatureA(hash, signedData.pbData + dataLen, m_szSign, peerKey,
                                          nullptr, 0);
    CryptDestroyHash(hash);
    return ok ? ERR_OK : ERR_PACKET_INTEGRITY;
}

unsigned CryptoApi::addCertToContainer(const tesel::CBlob& cert) {
    const CERT_CONTEXT* context = nullptr;
    if (const unsigned r = blobToCertificate(cert, &context)) {
        return r;
    }
    HCRYPTKEY key = 0;
    bool ok = CryptGetUserKey(m_provider, AT_KEYEXCHANGE, &key);
    if (ok) {
        ok = CryptSetKeyParam(key, KP_CERTIFICATE, context->pbCertEncoded, 0);
        CryptDestroyKey(key);
    }
    CertFreeCertificateContext(context);
    return ok ? ERR_OK : ERR_CONTAINER_ADD_CERT;
}

unsigned CryptoApi::getCertList(std::map<unsigned, const CERT_CONTEXT*>& certs) {
    tesel::CryptoCert store;
    if (!store.openStore(tesel::kStoreMY)) {
        return ERR_OK;  // no store, no certificates
    }
    unsigned index = 0;
    const CERT_CONTEXT* cert = nullptr;
    while ((cert = store.getNextCertInStore(cert)) != nullptr) {
        certs[index++] = CertDuplicateCertificateContext(cert);
    }
    return ERR_OK;
}

bool CryptoApi::isVipnet() const {
    return m_csp == CP_VIPNET || m_csp == CP_VIPNET_GOST2012_256 || m_csp == CP_VIPNET_GOST2012_512;
}

unsigned CryptoApi::getExportSessionKeyAlgId() const { return isVipnet() ? KP_EXPORT_ALGID2 : KP_ALGID; }

void CryptoApi::releaseHandle(CryptoHandle handle) {
    if (handle) {
        CryptDestroyKey(handle);
    }
}

}  // namespace qn::crypto
