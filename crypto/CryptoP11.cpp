// CryptoP11: libraries, session and login, objects on the token, key pairs,
// certificates and provider information.
#include "crypto/CryptoP11.h"

#include <cstdio>
#include <cstring>

#include "core/TextConvert.h"
#include "crypto/C_ASN1.h"
#include "crypto/CspAlgorithms.h"
#include "crypto/P11Attributes.h"
#include "errors/eErrCodes.h"

namespace qn::crypto {

using namespace p11;

namespace {

// Whether bytes are well-formed UTF-8 holding no zero byte.
bool isUtf8Text(const std::string& bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        std::size_t extra = 0;
        if (c == 0) return false;
        if (c < 0x80) extra = 0;
        else if (c >= 0xC2 && c <= 0xDF) extra = 1;
        else if (c >= 0xE0 && c <= 0xEF) extra = 2;
        else if (c >= 0xF0 && c <= 0xF4) extra = 3;
        else return false;
        if (extra > bytes.size() - i - 1) return false;  // cut short
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
        }
        i += extra + 1;
    }
    return true;
}

constexpr CK_ULONG kLabelBuffer = 128;
constexpr CK_ULONG kIdBuffer = 128;
constexpr CK_ULONG kCertBuffer = 8192;
constexpr CK_ULONG kMaxListed = 10;
constexpr CK_ULONG kContainerObjects = 3;  // public key, private key, certificate
const char kJaCartaGost2[] = "JaCarta GOST 2.0";

bool isJaCartaKind(eSupportCP kind) {
    return kind == CP_JACARTA_GOST || kind == CP_JACARTA_GOST2012_256 || kind == CP_JACARTA_GOST2012_512;
}

bool isRutokenKind(eSupportCP kind) {
    return kind == CP_RUTOKEN_GOST || kind == CP_RUTOKEN_GOST2012_256 || kind == CP_RUTOKEN_GOST2012_512;
}

// A text attribute read into a zeroed buffer, up to its first zero byte.
std::string textUpToZero(const char* buffer, CK_ULONG length) {
    const std::size_t n = strnlen(buffer, length);
    return std::string(buffer, n);
}

}  // namespace

CryptoP11::~CryptoP11() = default;  // the session closes with its last holder

eDeviceP11Type CryptoP11::getDeviceP11Type(eSupportCP kind) {
    if (isJaCartaKind(kind)) {
        return P11_DEVICE_JACARTA;
    }
    if (isRutokenKind(kind)) {
        return P11_DEVICE_RUTOKEN;
    }
    return P11_DEVICE_NONE;
}

CK_MECHANISM_TYPE CryptoP11::getKeyGenAlg(eSupportCP kind) {
    switch (kind) {
        case CP_JACARTA_GOST:
        case CP_JACARTA_GOST2012_256:
        case CP_RUTOKEN_GOST:
        case CP_RUTOKEN_GOST2012_256:
            return CKM_GOSTR3410_KEY_PAIR_GEN;
        case CP_JACARTA_GOST2012_512:
        case CP_RUTOKEN_GOST2012_512:
            return CKM_GOSTR3410_512_KEY_PAIR_GEN;
        default:
            return static_cast<CK_MECHANISM_TYPE>(-1);
    }
}

CK_KEY_TYPE CryptoP11::getKeySizeAlg(eSupportCP kind) {
    switch (kind) {
        case CP_JACARTA_GOST:
        case CP_JACARTA_GOST2012_256:
        case CP_RUTOKEN_GOST:
        case CP_RUTOKEN_GOST2012_256:
            return CKK_GOSTR3410;
        case CP_JACARTA_GOST2012_512:
        case CP_RUTOKEN_GOST2012_512:
            return CKK_GOSTR3410_512;
        default:
            return static_cast<CK_KEY_TYPE>(-1);
    }
}

std::string CryptoP11::getDefaultPin(eDeviceP11Type type) {
    switch (type) {
        case P11_DEVICE_RUTOKEN:
            return "58203716";
        case P11_DEVICE_JACARTA:
            return "4719360825";
        default:
            return {};
    }
}

void CryptoP11::setCSP(eSupportCP kind) {
    CryptoBase::setCSP(kind);
    m_deviceType = getDeviceP11Type(kind);
}

CryptoP11* CryptoP11::make(eSupportCP kind, const std::string& name) {
    auto* p = new CryptoP11();
    p->m_uniqueName = name;
    p->setCSP(kind);
    return p;
}

std::unique_lock<std::recursive_mutex> CryptoP11::lockSession() const {
    return m_session ? std::unique_lock<std::recursive_mutex>(m_session->mutex())
                     : std::unique_lock<std::recursive_mutex>();
}

void CryptoP11::destroyObject(CK_OBJECT_HANDLE handle) const {
    if (handle && m_functions && session()) {
        m_functions->C_DestroyObject(session(), handle);
    }
}

// --- factories

unsigned CryptoP11::init(eSupportCP kind, CryptoP11** out) {
    *out = make(kind, std::string());
    return (*out)->auth();
}

unsigned CryptoP11::init(const std::string& container, eSupportCP kind, CryptoP11** out) {
    *out = make(kind, container);
    if (const unsigned r = (*out)->auth()) {
        return r;
    }
    return (*out)->loadKeyPair(tesel::convertToUTF8(container));
}

unsigned CryptoP11::init(const CERT_CONTEXT* cert, tesel::eCertStore store, CryptoP11** out) {
    if (store != tesel::CERT_STORE_JACARTA && store != tesel::CERT_STORE_RUTOKEN) {
        return ERR_INTERNAL;
    }
    if (!cert || !cert->pCertInfo) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    const char* oid = cert->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId;
    const std::string alg = oid ? oid : "";
    // The kind follows the key's size class, so that 512-bit keys get their
    // own mechanisms and sizes.
    const bool jacarta = store == tesel::CERT_STORE_JACARTA;
    eSupportCP kind = jacarta ? CP_JACARTA_GOST : CP_RUTOKEN_GOST;
    if (alg == "1.2.643.7.1.1.1.1") {
        kind = jacarta ? CP_JACARTA_GOST2012_256 : CP_RUTOKEN_GOST2012_256;
    } else if (alg == "1.2.643.7.1.1.1.2") {
        kind = jacarta ? CP_JACARTA_GOST2012_512 : CP_RUTOKEN_GOST2012_512;
    }
    std::unique_ptr<CryptoP11> p(make(kind, std::string()));
    if (const unsigned r = p->auth()) {
        return r;
    }
    if (const unsigned r = p->findByCert(cert, kind)) {
        return r;
    }
    *out = p.release();
    return ERR_OK;
}

unsigned CryptoP11::create(const std::string& container, eSupportCP kind, CryptoP11** out) {
    CryptoP11* p = make(kind, container);
    *out = p;
    if (const unsigned r = p->auth()) {
        return r;
    }
    const std::string label = tesel::convertToUTF8(container);
    const CK_KEY_TYPE keyType = getKeySizeAlg(kind);
    CK_ATTRIBUTE pub[] = {
        attrBool(CKA_TOKEN, true),
        attrText(CKA_LABEL, label),
        attrBlob(CKA_GOSTR3410_PARAMS, p->m_signParamSet),
        attrBlob(CKA_GOSTR3411_PARAMS, p->m_hashParamSet),
        attr(CKA_KEY_TYPE, &keyType, sizeof keyType),
        attrBool(CKA_PRIVATE, false),
        attrText(CKA_ID, label),
    };
    CK_ATTRIBUTE priv[] = {
        attrBool(CKA_TOKEN, true),
        attrText(CKA_LABEL, label),
        attrBlob(CKA_GOSTR3410_PARAMS, p->m_signParamSet),
        attr(CKA_KEY_TYPE, &keyType, sizeof keyType),
        attrBool(CKA_PRIVATE, true),
        attrBool(CKA_DERIVE, true),
        attrBool(CKA_SIGN, true),
        attrText(CKA_ID, label),
    };
    CK_MECHANISM mechanism{getKeyGenAlg(kind), nullptr, 0};
    auto lock = p->lockSession();
    CK_OBJECT_HANDLE pubKey = 0, privKey = 0;
    if (p->m_functions->C_GenerateKeyPair(p->session(), &mechanism, pub, sizeof pub / sizeof pub[0], priv,
                                          sizeof priv / sizeof priv[0], &pubKey, &privKey) != CKR_OK) {
        return ERR_CREATE_KEY_PAIR;
    }
    p->m_publicKey = pubKey;
    p->m_privateKey = privKey;
    return ERR_OK;
}

unsigned CryptoP11::remove(const std::string& container, eSupportCP kind) {
    std::unique_ptr<CryptoP11> p(make(kind, container));
    if (const unsigned r = p->auth()) {
        return r;
    }
    auto lock = p->lockSession();
    // One more than a container holds is asked for, so that a label that
    // more objects carry is told apart from a whole container and kept.
    CK_OBJECT_HANDLE handles[kContainerObjects + 1] = {};
    CK_ULONG count = 0;
    const unsigned r = p->findObjects(tesel::convertToUTF8(container), handles, count, kContainerObjects + 1);
    if (r == ERR_OK && count == kContainerObjects) {
        for (CK_ULONG i = 0; i < count; ++i) {
            p->m_functions->C_DestroyObject(p->session(), handles[i]);
        }
    }
    return r;
}

// --- library, session, login

unsigned CryptoP11::auth() {
    if (const unsigned r = loadPkcs11Lib()) {
        return r;
    }
    return login();
}

unsigned CryptoP11::loadPkcs11Lib() {
    if (m_deviceType != P11_DEVICE_RUTOKEN && m_deviceType != P11_DEVICE_JACARTA) {
        return ERR_CRYPTO_LIBRARY_NOT_FOUND;
    }
    m_pin = getDefaultPin(m_deviceType);
    m_cache = p11LibCacheGlobal;
    if (!m_cache) {
        return ERR_CRYPTO_LIBRARY_NOT_FOUND;
    }
    return m_cache->get(m_deviceType, m_module, m_functions);
}

unsigned CryptoP11::login() {
    CK_ULONG count = 0;
    if (m_functions->C_GetSlotList(CK_TRUE, nullptr, &count) != CKR_OK) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    if (count == 0) {
        return ERR_DEVICE_NOT_FOUND;
    }
    std::vector<CK_SLOT_ID> slots(count);
    if (m_functions->C_GetSlotList(CK_TRUE, slots.data(), &count) != CKR_OK) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    CK_TOKEN_INFO info{};
    if (!findGostSlot(slots.data(), count, info)) {
        return ERR_DEVICE_NOT_FOUND;
    }
    CK_SESSION_HANDLE handle = 0;
    if (m_functions->C_OpenSession(m_slot, CKF_RW_SESSION | CKF_SERIAL_SESSION, nullptr, nullptr, &handle) !=
        CKR_OK) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    m_session = std::make_shared<P11Session>(m_functions, handle);
    m_provider = handle;
    std::string pin = m_pin;
    const CK_RV rv = m_functions->C_Login(handle, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(pin.data()),
                                          pin.size());
    if (rv != CKR_OK && rv != CKR_USER_ALREADY_LOGGED_IN) {
        return ERR_DEFAULT_PIN_REJECTED;
    }
    return ERR_OK;
}

bool CryptoP11::findGostSlot(const CK_SLOT_ID* slots, CK_ULONG count, CK_TOKEN_INFO& info) {
    const bool needGost2 = m_deviceType == P11_DEVICE_JACARTA && m_gostCrypto == GOST_2012;
    for (CK_ULONG i = 0; i < count; ++i) {
        if (m_functions->C_GetTokenInfo(slots[i], &info) != CKR_OK) {
            return false;
        }
        if (!needGost2 || std::memcmp(info.model, kJaCartaGost2, 16) == 0) {
            m_slot = slots[i];
            return true;
        }
    }
    return false;
}

// --- objects

unsigned CryptoP11::findObjects(CK_ATTRIBUTE* attributes, CK_ULONG attributeCount, CK_OBJECT_HANDLE* handles,
                                CK_ULONG& count, CK_ULONG max) const {
    count = 0;
    if (!m_functions) {
        return ERR_LOAD_KEY_PAIR;
    }
    auto lock = lockSession();
    if (m_functions->C_FindObjectsInit(session(), attributes, attributeCount) != CKR_OK) {
        return ERR_LOAD_KEY_PAIR;
    }
    const CK_RV found = m_functions->C_FindObjects(session(), handles, max, &count);
    // The search is ended even when it failed, so the session stays usable.
    const CK_RV ended = m_functions->C_FindObjectsFinal(session());
    if (found != CKR_OK || ended != CKR_OK || count > max) {
        count = 0;
        return ERR_LOAD_KEY_PAIR;
    }
    return ERR_OK;
}

unsigned CryptoP11::findObjects(const std::string& label, CK_OBJECT_HANDLE* handles, CK_ULONG& count,
                                CK_ULONG max) const {
    CK_ATTRIBUTE t[] = {attrBool(CKA_TOKEN, true), attrText(CKA_LABEL, label)};
    return findObjects(t, 2, handles, count, max);
}

unsigned CryptoP11::loadKeyPair(const std::string& label) {
    const CK_OBJECT_CLASS classes[2] = {CKO_PUBLIC_KEY, CKO_PRIVATE_KEY};
    CK_OBJECT_HANDLE found[2] = {};
    for (int i = 0; i < 2; ++i) {
        CK_ATTRIBUTE t[] = {attr(CKA_CLASS, &classes[i], sizeof classes[i]), attrText(CKA_LABEL, label),
                            attrBool(CKA_TOKEN, true)};
        if (const unsigned r = findOne(t, 3, found[i])) {
            return r;
        }
        if (i == 0) {
            m_publicKey = found[0];
        }
    }
    m_privateKey = found[1];
    return ERR_OK;
}

unsigned CryptoP11::findKey(const CK_ATTRIBUTE& id, CK_OBJECT_CLASS keyClass, CK_OBJECT_HANDLE& handle) const {
    CK_ATTRIBUTE t[] = {attr(CKA_CLASS, &keyClass, sizeof keyClass), attr(CKA_ID, id.pValue, id.ulValueLen),
                        attrBool(CKA_TOKEN, true)};
    return findOne(t, 3, handle);
}

unsigned CryptoP11::findOne(CK_ATTRIBUTE* attributes, CK_ULONG attributeCount, CK_OBJECT_HANDLE& handle) const {
    CK_OBJECT_HANDLE handles[2] = {};
    CK_ULONG count = 0;
    if (const unsigned r = findObjects(attributes, attributeCount, handles, count, 2)) {
        return r;
    }
    if (count == 0) {
        return ERR_KEY_PAIR_NOT_FOUND;
    }
    if (count > 1) {
        return ERR_MORE_THAN_ONE_KEY_PAIR;
    }
    handle = handles[0];
    return ERR_OK;
}

unsigned CryptoP11::findByCert(const CERT_CONTEXT* cert, eSupportCP kind) {
    if (!cert || !cert->pbCertEncoded) {
        return ERR_INTERNAL;
    }
    const CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
    const CK_CERTIFICATE_TYPE x509 = CKC_X_509;
    CK_ATTRIBUTE t[] = {
        attr(CKA_CLASS, &certClass, sizeof certClass),
        attrBool(CKA_TOKEN, true),
        attr(CKA_VALUE, cert->pbCertEncoded, cert->cbCertEncoded),
        attrBool(CKA_PRIVATE, false),
        attr(CKA_CERTIFICATE_TYPE, &x509, sizeof x509),
    };
    CK_ULONG n = 0;
    if (isJaCartaKind(kind)) {
        n = 3;
    } else if (isRutokenKind(kind)) {
        n = 5;
    } else {
        return ERR_INTERNAL;
    }
    auto lock = lockSession();
    CK_OBJECT_HANDLE handle = 0;
    CK_ULONG count = 0;
    if (const unsigned r = findObjects(t, n, &handle, count, 1)) {
        return r;
    }
    if (count == 0) {
        return ERR_KEY_PAIR_NOT_FOUND;  // the certificate, and so its key pair, is not on the token
    }
    unsigned char id[kIdBuffer] = {};
    CK_ATTRIBUTE idAttr = attr(CKA_ID, id, sizeof id);
    if (m_functions->C_GetAttributeValue(session(), handle, &idAttr, 1) != CKR_OK ||
        idAttr.ulValueLen > sizeof id) {
        return ERR_LOAD_KEY_PAIR;
    }
    // The program writes a container's label, in UTF-8, as the ID of its
    // objects; the unique name is in the ANSI code page like every other
    // container name. IDs that are not UTF-8 text stay as they are.
    const std::string idText(reinterpret_cast<const char*>(id), idAttr.ulValueLen);
    m_uniqueName = isUtf8Text(idText) ? tesel::convertFromUTF8(idText) : idText;
    if (const unsigned r = findKey(idAttr, CKO_PUBLIC_KEY, m_publicKey)) {
        return r;
    }
    return findKey(idAttr, CKO_PRIVATE_KEY, m_privateKey);
}

unsigned CryptoP11::getCertList(std::map<unsigned, const CERT_CONTEXT*>& certs, CryptoP11* provider) {
    if (!provider || !provider->isValid()) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    const CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
    const CK_CERTIFICATE_TYPE x509 = CKC_X_509;
    CK_ATTRIBUTE t[] = {
        attr(CKA_CLASS, &certClass, sizeof certClass),
        attrBool(CKA_TOKEN, true),
        attrBool(CKA_PRIVATE, false),
        attr(CKA_CERTIFICATE_TYPE, &x509, sizeof x509),
    };
    CK_ULONG n = 0;
    if (isJaCartaKind(provider->m_csp)) {
        n = 2;
    } else if (isRutokenKind(provider->m_csp)) {
        n = 4;
    }
    auto lock = provider->lockSession();
    CK_OBJECT_HANDLE handles[kMaxListed] = {};
    CK_ULONG count = 0;
    if (const unsigned r = provider->findObjects(n ? t : nullptr, n, handles, count, kMaxListed)) {
        return r;
    }
    std::vector<unsigned char> value(kCertBuffer);
    unsigned index = 0;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE v = attr(CKA_VALUE, value.data(), kCertBuffer);
        if (provider->m_functions->C_GetAttributeValue(provider->session(), handles[i], &v, 1) != CKR_OK ||
            v.ulValueLen > kCertBuffer) {
            return ERR_LOAD_KEY_PAIR;
        }
        const CERT_CONTEXT* cert = nullptr;
        // An object whose value is no certificate is left out.
        if (blobToCertificate(tesel::CBlob(value.data(), static_cast<unsigned>(v.ulValueLen)), &cert) == ERR_OK) {
            certs[index++] = cert;
        }
    }
    return ERR_OK;
}

unsigned CryptoP11::getContainersList(std::vector<std::string>& names) const {
    if (!names.empty()) {
        return ERR_OK;
    }
    const CK_OBJECT_CLASS pubClass = CKO_PUBLIC_KEY;
    CK_ATTRIBUTE t[] = {attr(CKA_CLASS, &pubClass, sizeof pubClass), attrBool(CKA_TOKEN, true)};
    auto lock = lockSession();
    CK_OBJECT_HANDLE handles[kMaxListed] = {};
    CK_ULONG count = 0;
    if (const unsigned r = findObjects(t, 2, handles, count, kMaxListed)) {
        return r;
    }
    for (CK_ULONG i = 0; i < count; ++i) {
        char label[kLabelBuffer] = {};
        CK_ATTRIBUTE a = attr(CKA_LABEL, label, sizeof label);
        if (m_functions->C_GetAttributeValue(session(), handles[i], &a, 1) != CKR_OK || a.ulValueLen > sizeof label) {
            return ERR_LOAD_KEY_PAIR;
        }
        // Labels are UTF-8 on the token; names are ANSI here, as the
        // container names they are compared with.
        names.push_back(tesel::convertFromUTF8(textUpToZero(label, a.ulValueLen)));
    }
    return ERR_OK;
}

unsigned CryptoP11::getContainersAllList(std::vector<std::string>&, std::vector<std::string>&) const {
    return ERR_OK;
}

unsigned CryptoP11::removeKeyPair(const std::string& container) {
    auto lock = lockSession();
    CK_OBJECT_HANDLE handles[kContainerObjects] = {};
    CK_ULONG count = 0;
    const unsigned r = findObjects(tesel::convertToUTF8(container), handles, count, kContainerObjects);
    for (CK_ULONG i = 0; i < count; ++i) {
        m_functions->C_DestroyObject(session(), handles[i]);
    }
    return r;
}

// --- provider information, keys and certificate

unsigned CryptoP11::release() {
    m_session.reset();  // closes the session unless a clone still holds it
    m_provider = 0;
    return ERR_OK;
}

unsigned CryptoP11::getCspVersion(std::string&) const { return ERR_OK; }

unsigned CryptoP11::getUniqueContainer(std::string& out) const {
    out = m_uniqueName;
    return ERR_OK;
}

std::shared_ptr<CryptoProviderQn> CryptoP11::clone() const {
    return std::shared_ptr<CryptoProviderQn>(new CryptoP11(*this));
}

void CryptoP11::releaseHandle(CryptoHandle handle) {
    auto lock = lockSession();
    destroyObject(static_cast<CK_OBJECT_HANDLE>(handle));
}

unsigned CryptoP11::getCspInfo(UserCspInfo& out) const {
    if (!isValid()) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    CK_TOKEN_INFO info{};
    if (m_functions->C_GetTokenInfo(m_slot, &info) != CKR_OK) {
        return ERR_INTERNAL;
    }
    auto text = [](const unsigned char* p, std::size_t n) { return std::string(reinterpret_cast<const char*>(p), n); };
    char version[64];
    std::snprintf(version, sizeof version, "%d.%d.%d.%d", info.hardwareVersion.major, info.hardwareVersion.minor,
                  info.firmwareVersion.major, info.firmwareVersion.minor);
    out.setCspType(m_csp);
    out.setCspVersion(version);
    out.setLabel(text(info.label, sizeof info.label));
    out.setManufacturer(text(info.manufacturerID, sizeof info.manufacturerID));
    out.setModel(text(info.model, sizeof info.model));
    out.setSerialNumber(text(info.serialNumber, sizeof info.serialNumber));
    return ERR_OK;
}

unsigned CryptoP11::getPublicKeyBlob(tesel::CBlob& out) const {
    if (!m_functions || !isValid()) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    std::vector<unsigned char> value(m_szSign ? m_szSign : 1);
    std::vector<unsigned char> params(m_signParamSet.getSize() ? m_signParamSet.getSize() : 1);
    CK_ATTRIBUTE t[] = {attr(CKA_VALUE, value.data(), m_szSign),
                        attr(CKA_GOSTR3410_PARAMS, params.data(), m_signParamSet.getSize())};
    {
        auto lock = lockSession();
        if (m_functions->C_GetAttributeValue(session(), m_publicKey, t, 2) != CKR_OK) {
            return ERR_CSP_NOT_INITIALIZED;
        }
    }
    const unsigned keyBytes = getPubKeySize(m_csp) / 8;
    if (t[0].ulValueLen != keyBytes || t[1].ulValueLen > params.size()) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    const tesel::CBlob items[2] = {tesel::CBlob(params.data(), static_cast<unsigned>(t[1].ulValueLen)),
                                   m_hashParamSet};
    const tesel::CBlob seq = tesel::C_ASN1::encodeSequence(items, 2);
    tesel::CBlob blob(16 + seq.getSize() + keyBytes);
    const unsigned char head[4] = {0x06, 0x20, 0x00, 0x00};
    blob.serialize(head, 4);
    blob.serialize(static_cast<unsigned>(getPubKeyAlgId(m_csp)));
    blob.serialize("MAG1", 4);
    blob.serialize(getPubKeySize(m_csp));
    blob.serialize(seq.getData(), seq.getSize());
    blob.serialize(value.data(), keyBytes);
    blob.moveOffset(0);
    out = std::move(blob);
    return ERR_OK;
}

unsigned CryptoP11::addCertToContainer(const tesel::CBlob& cert) {
    const CERT_CONTEXT* context = nullptr;
    if (const unsigned r = blobToCertificate(cert, &context)) {
        return r;
    }
    unsigned r = ERR_CONTAINER_ADD_CERT;
    if (m_functions && isValid()) {
        auto lock = lockSession();
        char label[kLabelBuffer] = {};
        CK_ATTRIBUTE a = attr(CKA_LABEL, label, sizeof label);
        if (m_functions->C_GetAttributeValue(session(), m_publicKey, &a, 1) == CKR_OK && a.ulValueLen <= sizeof label) {
            const std::string name = textUpToZero(label, a.ulValueLen);
            const CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
            const CK_CERTIFICATE_TYPE x509 = CKC_X_509;
            const CK_ULONG category = 1;  // token user
            // The value is the certificate's DER, whatever form it came in,
            // so that the search by value finds it again.
            CK_ATTRIBUTE t[] = {
                attr(CKA_CLASS, &certClass, sizeof certClass),
                attrText(CKA_LABEL, name),
                attrBool(CKA_TOKEN, true),
                attrText(CKA_ID, name),
                attr(CKA_VALUE, context->pbCertEncoded, context->cbCertEncoded),
                attrBool(CKA_PRIVATE, false),
                attr(CKA_CERTIFICATE_TYPE, &x509, sizeof x509),
                attr(CKA_CERTIFICATE_CATEGORY, &category, sizeof category),
                attr(CKA_SUBJECT, context->pCertInfo->Subject.pbData, context->pCertInfo->Subject.cbData),
            };
            CK_OBJECT_HANDLE handle = 0;
            if (m_functions->C_CreateObject(session(), t, sizeof t / sizeof t[0], &handle) == CKR_OK) {
                r = ERR_OK;
            }
        }
    }
    CertFreeCertificateContext(context);
    return r;
}

}  // namespace qn::crypto
