// The software token's key functions: GOST R 34.10 key pairs, GOST 28147-89
// session keys, the GOST 28147-89 key wrap (RFC 4357 6.1: ECB of the key
// and its MAC with the UKM as IV) and VKO key derivation, optionally
// followed by the CryptoPro KEK diversification (CKD_CPDIVERSIFY_KDF).
#include "tools/soft-token/SoftGost.h"
#include "tools/soft-token/SoftTokenApi.h"

using namespace softtoken;

namespace {

constexpr unsigned kUkm = 8;
const char kDefaultSbox[] = "1.2.643.2.2.31.1";

Bytes ulongBytes(CK_ULONG v) {
    Bytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

// A new secret key object from a template and a value.
CK_RV secretKey(const Template& t, const Bytes& value, ObjectPtr& out) {
    CK_ULONG v = 0;
    if (templateUlong(t, CKA_CLASS, v) && v != CKO_SECRET_KEY) {
        return CKR_TEMPLATE_INCONSISTENT;
    }
    if (templateUlong(t, CKA_KEY_TYPE, v) && v != CKK_GOST28147) {
        return CKR_TEMPLATE_INCONSISTENT;
    }
    auto it = t.find(CKA_GOST28147_PARAMS);
    if (it != t.end() && !plcsp::isKnownSboxOid(oidOfDer(it->second))) {
        return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    out = std::make_shared<Object>();
    out->attrs = t;
    out->setUlong(CKA_CLASS, CKO_SECRET_KEY);
    out->setUlong(CKA_KEY_TYPE, CKK_GOST28147);
    out->attrs[CKA_VALUE] = value;
    return CKR_OK;
}

// The S-box of a GOST 28147-89 key object.
std::string sboxOf(const Object& key) {
    const Bytes* p = key.get(CKA_GOST28147_PARAMS);
    const std::string oid = p ? oidOfDer(*p) : std::string();
    return oid.empty() ? kDefaultSbox : oid;
}

ObjectPtr gostSecret(State& st, Session& sess, CK_OBJECT_HANDLE h) {
    ObjectPtr key = st.object(sess, h);
    const Bytes* v = key ? key->get(CKA_VALUE) : nullptr;
    if (!key || key->ulong(CKA_CLASS) != CKO_SECRET_KEY || key->ulong(CKA_KEY_TYPE) != CKK_GOST28147 || !v ||
        v->size() != 32) {
        return nullptr;
    }
    return key;
}

// The peer's public value and the UKM of a derivation parameter: the
// CK_GOSTR3410_DERIVE_PARAMS record, or the flat 32-bit record of the 2012
// mechanism (kdf | n | value | UKM length | UKM).
CK_RV deriveParams(const CK_MECHANISM& m, CK_ULONG& kdf, Bytes& peer, Bytes& ukm) {
    if (!m.pParameter) {
        return CKR_MECHANISM_PARAM_INVALID;
    }
    if (m.ulParameterLen == sizeof(CK_GOSTR3410_DERIVE_PARAMS)) {
        const auto* p = static_cast<const CK_GOSTR3410_DERIVE_PARAMS*>(m.pParameter);
        if (!p->pPublicData || !p->pUKM || p->ulPublicDataLen > 128 || p->ulUKMLen != kUkm) {
            return CKR_MECHANISM_PARAM_INVALID;
        }
        kdf = p->kdf;
        peer.assign(p->pPublicData, p->pPublicData + p->ulPublicDataLen);
        ukm.assign(p->pUKM, p->pUKM + p->ulUKMLen);
        return CKR_OK;
    }
    if (m.mechanism != CKM_GOSTR3410_12_DERIVE || m.ulParameterLen < pkcs11gost::kDerive12Fixed) {
        return CKR_MECHANISM_PARAM_INVALID;
    }
    const auto* p = static_cast<const unsigned char*>(m.pParameter);
    const std::uint32_t n = pkcs11gost::readLe32(p + 4);
    if (n > 128 || m.ulParameterLen != pkcs11gost::kDerive12Fixed + n || pkcs11gost::readLe32(p + 8 + n) != kUkm) {
        return CKR_MECHANISM_PARAM_INVALID;
    }
    kdf = pkcs11gost::readLe32(p);
    peer.assign(p + 8, p + 8 + n);
    ukm.assign(p + 12 + n, p + 12 + n + kUkm);
    return CKR_OK;
}

}  // namespace

extern "C" {

CK_RV C_GenerateKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pTemplate,
                    CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey) try {
    SOFT_ENTER("C_GenerateKey");
    SOFT_SESSION(hSession);
    if (!pMechanism) {
        return CKR_ARGUMENTS_BAD;
    }
    if (pMechanism->mechanism != CKM_GOST28147_KEY_GEN) {
        return CKR_MECHANISM_INVALID;
    }
    Template t;
    if (const CK_RV rv = readTemplate(pTemplate, ulCount, t)) {
        return rv;
    }
    ObjectPtr key;
    if (const CK_RV rv = secretKey(t, plcsp::randomVector(32), key)) {
        return rv;
    }
    key->setFlag(CKA_LOCAL, true);
    return storeObject(st, sess, std::move(key), phKey);
} SOFT_CATCH

CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pPublicKeyTemplate,
                        CK_ULONG ulPublicKeyAttributeCount, CK_ATTRIBUTE_PTR pPrivateKeyTemplate,
                        CK_ULONG ulPrivateKeyAttributeCount, CK_OBJECT_HANDLE_PTR phPublicKey,
                        CK_OBJECT_HANDLE_PTR phPrivateKey) try {
    SOFT_ENTER("C_GenerateKeyPair");
    SOFT_SESSION(hSession);
    if (!pMechanism || !phPublicKey || !phPrivateKey) {
        return CKR_ARGUMENTS_BAD;
    }
    CK_KEY_TYPE type = 0;
    if (pMechanism->mechanism == CKM_GOSTR3410_KEY_PAIR_GEN) {
        type = CKK_GOSTR3410;
    } else if (pMechanism->mechanism == CKM_GOSTR3410_512_KEY_PAIR_GEN) {
        type = CKK_GOSTR3410_512;
    } else {
        return CKR_MECHANISM_INVALID;
    }
    Template pubT, privT;
    if (const CK_RV rv = readTemplate(pPublicKeyTemplate, ulPublicKeyAttributeCount, pubT)) {
        return rv;
    }
    if (const CK_RV rv = readTemplate(pPrivateKeyTemplate, ulPrivateKeyAttributeCount, privT)) {
        return rv;
    }
    CK_ULONG v = 0;
    if ((templateUlong(pubT, CKA_KEY_TYPE, v) && v != type) || (templateUlong(privT, CKA_KEY_TYPE, v) && v != type) ||
        (templateUlong(pubT, CKA_CLASS, v) && v != CKO_PUBLIC_KEY) ||
        (templateUlong(privT, CKA_CLASS, v) && v != CKO_PRIVATE_KEY)) {
        return CKR_TEMPLATE_INCONSISTENT;
    }
    auto params = pubT.find(CKA_GOSTR3410_PARAMS);
    if (params == pubT.end()) {
        return CKR_TEMPLATE_INCOMPLETE;
    }
    auto privParams = privT.find(CKA_GOSTR3410_PARAMS);
    if (privParams != privT.end() && privParams->second != params->second) {
        return CKR_TEMPLATE_INCONSISTENT;
    }
    const plcsp::CurveInfo* curve = curveOfParams(params->second);
    if (!curve || curve->coordBytes != (type == CKK_GOSTR3410 ? 32u : 64u)) {
        return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    Bytes privValue, pubValue;
    if (!generatePair(*curve, privValue, pubValue)) {
        return CKR_DEVICE_ERROR;
    }
    auto pub = std::make_shared<Object>();
    auto priv = std::make_shared<Object>();
    pub->attrs = pubT;
    priv->attrs = privT;
    for (Object* o : {pub.get(), priv.get()}) {
        o->attrs[CKA_KEY_TYPE] = ulongBytes(type);
        o->attrs[CKA_GOSTR3410_PARAMS] = params->second;
        auto hash = pubT.find(CKA_GOSTR3411_PARAMS);
        if (hash != pubT.end() && !o->has(CKA_GOSTR3411_PARAMS)) {
            o->attrs[CKA_GOSTR3411_PARAMS] = hash->second;
        }
        o->setFlag(CKA_LOCAL, true);
    }
    pub->attrs[CKA_CLASS] = ulongBytes(CKO_PUBLIC_KEY);
    pub->attrs[CKA_VALUE] = pubValue;
    priv->attrs[CKA_CLASS] = ulongBytes(CKO_PRIVATE_KEY);
    priv->attrs[CKA_VALUE] = privValue;
    if (!priv->has(CKA_SENSITIVE)) {
        priv->setFlag(CKA_SENSITIVE, true);
    }
    if (!priv->has(CKA_EXTRACTABLE)) {
        priv->setFlag(CKA_EXTRACTABLE, false);
    }
    // Both objects or neither: the private key is checked before the public
    // one is stored.
    applyDefaults(*priv);
    if (priv->isToken() && !(sess.flags & CKF_RW_SESSION)) {
        return CKR_SESSION_READ_ONLY;
    }
    if (priv->isPrivate() && !st.userLoggedIn(sess.slot)) {
        return CKR_USER_NOT_LOGGED_IN;
    }
    if (const CK_RV rv = storeObject(st, sess, pub, phPublicKey)) {
        return rv;
    }
    if (const CK_RV rv = storeObject(st, sess, priv, phPrivateKey)) {
        st.destroy(*phPublicKey);
        return rv;
    }
    return CKR_OK;
} SOFT_CATCH

CK_RV C_WrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hWrappingKey,
                CK_OBJECT_HANDLE hKey, CK_BYTE_PTR pWrappedKey, CK_ULONG_PTR pulWrappedKeyLen) try {
    SOFT_ENTER("C_WrapKey");
    SOFT_SESSION(hSession);
    if (!pMechanism || !pulWrappedKeyLen) {
        return CKR_ARGUMENTS_BAD;
    }
    if (pMechanism->mechanism != CKM_GOST28147_KEY_WRAP) {
        return CKR_MECHANISM_INVALID;
    }
    if (pMechanism->pParameter && pMechanism->ulParameterLen != kUkm) {
        return CKR_MECHANISM_PARAM_INVALID;
    }
    ObjectPtr kek = gostSecret(st, sess, hWrappingKey);
    if (!kek) {
        return CKR_WRAPPING_KEY_HANDLE_INVALID;
    }
    if (!kek->flag(CKA_WRAP)) {
        return CKR_KEY_FUNCTION_NOT_PERMITTED;
    }
    ObjectPtr cek = gostSecret(st, sess, hKey);
    if (!cek) {
        return CKR_KEY_HANDLE_INVALID;
    }
    if (!cek->flag(CKA_EXTRACTABLE)) {
        return CKR_KEY_UNEXTRACTABLE;
    }
    // Without a UKM a random one is made; it then travels with the key.
    const bool withUkm = st.slots[sess.slot].config.wrappedKeyLength == 44 || !pMechanism->pParameter;
    bool done = false;
    const CK_RV room = outputRoom(pWrappedKey, pulWrappedKeyLen, withUkm ? 44 : 36, done);
    if (done) {
        return room;
    }
    Bytes ukm = pMechanism->pParameter ? Bytes(static_cast<unsigned char*>(pMechanism->pParameter),
                                               static_cast<unsigned char*>(pMechanism->pParameter) + kUkm)
                                       : plcsp::randomVector(kUkm);
    const std::string sbox = sboxOf(*kek);
    const Bytes& kekValue = *kek->get(CKA_VALUE);
    const Bytes& cekValue = *cek->get(CKA_VALUE);
    unsigned char* out = pWrappedKey;
    if (withUkm) {
        std::memcpy(out, ukm.data(), kUkm);
        out += kUkm;
    }
    std::memcpy(out, cekValue.data(), 32);
    if (!plcsp::imit(kekValue.data(), sbox, ukm.data(), cekValue.data(), 32, out + 32) ||
        !plcsp::ecbEncrypt(kekValue.data(), sbox, out, 32)) {
        return CKR_DEVICE_ERROR;
    }
    return CKR_OK;
} SOFT_CATCH

CK_RV C_UnwrapKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hUnwrappingKey,
                  CK_BYTE_PTR pWrappedKey, CK_ULONG ulWrappedKeyLen, CK_ATTRIBUTE_PTR pTemplate,
                  CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey) try {
    SOFT_ENTER("C_UnwrapKey");
    SOFT_SESSION(hSession);
    if (!pMechanism || !phKey || (!pWrappedKey && ulWrappedKeyLen)) {
        return CKR_ARGUMENTS_BAD;
    }
    if (pMechanism->mechanism != CKM_GOST28147_KEY_WRAP) {
        return CKR_MECHANISM_INVALID;
    }
    if (pMechanism->pParameter && pMechanism->ulParameterLen != kUkm) {
        return CKR_MECHANISM_PARAM_INVALID;
    }
    ObjectPtr kek = gostSecret(st, sess, hUnwrappingKey);
    if (!kek) {
        return CKR_UNWRAPPING_KEY_HANDLE_INVALID;
    }
    if (!kek->flag(CKA_UNWRAP)) {
        return CKR_KEY_FUNCTION_NOT_PERMITTED;
    }
    // 44 bytes carry their UKM in front (it must be the mechanism's, if one
    // is given); 36 bytes take it from the mechanism.
    const unsigned char* param = static_cast<const unsigned char*>(pMechanism->pParameter);
    const unsigned char* ukm = nullptr;
    const unsigned char* body = pWrappedKey;
    if (ulWrappedKeyLen == 44) {
        ukm = pWrappedKey;
        body += kUkm;
        if (param && std::memcmp(param, ukm, kUkm) != 0) {
            return CKR_WRAPPED_KEY_INVALID;
        }
    } else if (ulWrappedKeyLen == 36 && param) {
        ukm = param;
    } else {
        return CKR_WRAPPED_KEY_LEN_RANGE;
    }
    Template t;
    if (const CK_RV rv = readTemplate(pTemplate, ulAttributeCount, t)) {
        return rv;
    }
    const std::string sbox = sboxOf(*kek);
    const Bytes& kekValue = *kek->get(CKA_VALUE);
    plcsp::SecureBytes cek(32);
    std::memcpy(cek.data(), body, 32);
    unsigned char mac[4];
    if (!plcsp::ecbDecrypt(kekValue.data(), sbox, cek.data(), 32) ||
        !plcsp::imit(kekValue.data(), sbox, ukm, cek.data(), 32, mac)) {
        return CKR_DEVICE_ERROR;
    }
    if (!plcsp::equalConstTime(mac, body + 32, 4)) {
        return CKR_WRAPPED_KEY_INVALID;
    }
    ObjectPtr key;
    if (const CK_RV rv = secretKey(t, Bytes(cek.data(), cek.data() + 32), key)) {
        return rv;
    }
    return storeObject(st, sess, std::move(key), phKey);
} SOFT_CATCH

CK_RV C_DeriveKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_OBJECT_HANDLE hBaseKey,
                  CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulAttributeCount, CK_OBJECT_HANDLE_PTR phKey) try {
    SOFT_ENTER("C_DeriveKey");
    SOFT_SESSION(hSession);
    if (!pMechanism || !phKey) {
        return CKR_ARGUMENTS_BAD;
    }
    const bool g2012 = pMechanism->mechanism == CKM_GOSTR3410_12_DERIVE;
    if (!g2012 && pMechanism->mechanism != CKM_GOSTR3410_DERIVE) {
        return CKR_MECHANISM_INVALID;
    }
    CK_ULONG kdf = 0;
    Bytes peer, ukm;
    if (const CK_RV rv = deriveParams(*pMechanism, kdf, peer, ukm)) {
        return rv;
    }
    if (kdf != CKD_NULL && kdf != CKD_CPDIVERSIFY_KDF) {
        return CKR_MECHANISM_PARAM_INVALID;
    }
    ObjectPtr base = st.object(sess, hBaseKey);
    if (!base) {
        return CKR_KEY_HANDLE_INVALID;
    }
    const CK_ULONG type = base->ulong(CKA_KEY_TYPE);
    if (base->ulong(CKA_CLASS) != CKO_PRIVATE_KEY || (type != CKK_GOSTR3410 && type != CKK_GOSTR3410_512) ||
        (!g2012 && type != CKK_GOSTR3410)) {
        return CKR_KEY_TYPE_INCONSISTENT;
    }
    if (!base->flag(CKA_DERIVE)) {
        return CKR_KEY_FUNCTION_NOT_PERMITTED;
    }
    const Bytes* params = base->get(CKA_GOSTR3410_PARAMS);
    const plcsp::CurveInfo* curve = params ? curveOfParams(*params) : nullptr;
    if (!curve) {
        return CKR_KEY_TYPE_INCONSISTENT;
    }
    Template t;
    if (const CK_RV rv = readTemplate(pTemplate, ulAttributeCount, t)) {
        return rv;
    }
    Bytes kek;
    if (!vko(*curve, *base->get(CKA_VALUE), peer.data(), peer.size(), ukm.data(), g2012, kek)) {
        return CKR_MECHANISM_PARAM_INVALID;  // the peer's value is no point of the key's curve
    }
    ObjectPtr key;
    if (const CK_RV rv = secretKey(t, kek, key)) {
        return rv;
    }
    if (kdf == CKD_CPDIVERSIFY_KDF) {
        plcsp::SecureBytes diversified;
        if (!plcsp::diversifyKek(kek.data(), ukm.data(), sboxOf(*key), diversified)) {
            return CKR_DEVICE_ERROR;
        }
        key->attrs[CKA_VALUE] = Bytes(diversified.data(), diversified.data() + 32);
    }
    return storeObject(st, sess, std::move(key), phKey);
} SOFT_CATCH

}  // extern "C"
