// CryptoP11: signatures, the peer's key, key agreement, session keys and
// GOST 28147-89 encryption on the token, in the formats of the CryptoAPI
// provider (signed data, encrypted message, SIMPLEBLOB).
#include <algorithm>
#include <cstring>

#include "crypto/CryptoP11.h"
#include "crypto/C_ASN1.h"
#include "crypto/CspAlgorithms.h"
#include "crypto/P11Attributes.h"
#include "crypto/RandomByteVector.h"
#include "errors/eErrCodes.h"

namespace qn::crypto {

using namespace p11;

namespace {

constexpr unsigned kUkmSize = 8;
constexpr unsigned kIvSize = 8;
constexpr CK_ULONG kPiece = 1024;
constexpr CK_ULONG kPieceBuffer = 2048;
constexpr unsigned kWrappedWithUkm = 44;  // UKM, encrypted key, MAC
constexpr unsigned kWrapped = 36;         // encrypted key, MAC
constexpr unsigned kSimpleUkm = 16;       // offsets in the SIMPLEBLOB
constexpr unsigned kSimpleKey = 24;
constexpr unsigned kSimpleFixed = 60;
constexpr unsigned kCalgG28147 = 0x661E;
constexpr unsigned kG28147Magic = 0x374A51FD;

void reverseBytes(unsigned char* p, std::size_t n) { std::reverse(p, p + n); }

const CK_OBJECT_CLASS kSecretClass = CKO_SECRET_KEY;
const CK_KEY_TYPE kGost28147 = CKK_GOST28147;

// A GOST 28147-89 session object. The generated and the agreed keys stay
// private and sensitive; an unwrapped session key is neither, and may be
// modified. Wrapping keys also wrap and unwrap.
struct SecretKeyTemplate {
    CK_ATTRIBUTE t[12];
    CK_ULONG count = 0;

    SecretKeyTemplate(bool unwrapped, bool wrapping, const tesel::CBlob& params) {
        add(attr(CKA_CLASS, &kSecretClass, sizeof kSecretClass));
        add(attr(CKA_KEY_TYPE, &kGost28147, sizeof kGost28147));
        add(attrBool(CKA_TOKEN, false));
        add(attrBool(CKA_MODIFIABLE, unwrapped));
        add(attrBool(CKA_PRIVATE, !unwrapped));
        add(attrBool(CKA_EXTRACTABLE, true));
        add(attrBool(CKA_SENSITIVE, !unwrapped));
        add(attrBool(CKA_ENCRYPT, true));
        add(attrBool(CKA_DECRYPT, true));
        if (wrapping) {
            add(attrBool(CKA_WRAP, true));
            add(attrBool(CKA_UNWRAP, true));
        }
        add(attrBlob(CKA_GOST28147_PARAMS, params));
    }
    void add(const CK_ATTRIBUTE& a) { t[count++] = a; }
};

}  // namespace

// --- signatures

unsigned CryptoP11::signMessage(const tesel::CBlob& data, tesel::CBlob& out) const {
    if (!m_functions || m_szSign == 0) {
        return ERR_SIGN;
    }
    auto lock = lockSession();
    return m_gostCrypto == GOST_2001 ? signMessage_2001(data, out) : signMessage_2012(data, out);
}

unsigned CryptoP11::signMessage_2001(const tesel::CBlob& data, tesel::CBlob& out) const {
    CK_MECHANISM digest{m_hashAlgorithm, m_hashParamSet.getData(), m_hashParamSet.getSize()};
    unsigned char hash[32];
    CK_ULONG hashLen = sizeof hash;
    if (m_functions->C_DigestInit(session(), &digest) != CKR_OK ||
        m_functions->C_Digest(session(), data.getData(), data.getSize(), hash, &hashLen) != CKR_OK) {
        return ERR_SIGN;
    }
    CK_MECHANISM sign{CKM_GOSTR3410, nullptr, 0};
    return signAppended(sign, hash, hashLen, data, out);
}

unsigned CryptoP11::signMessage_2012(const tesel::CBlob& data, tesel::CBlob& out) const {
    CK_MECHANISM sign{m_signAlgorithm, nullptr, 0};
    return signAppended(sign, data.getData(), data.getSize(), data, out);
}

unsigned CryptoP11::signAppended(CK_MECHANISM& mechanism, unsigned char* input, CK_ULONG inputLen,
                                 const tesel::CBlob& data, tesel::CBlob& out) const {
    tesel::CBlob result(data.getSize() + m_szSign);
    CK_ULONG sigLen = m_szSign;
    unsigned char* sig = result.getData() + data.getSize();
    if (m_functions->C_SignInit(session(), &mechanism, m_privateKey) != CKR_OK ||
        m_functions->C_Sign(session(), input, inputLen, sig, &sigLen) != CKR_OK || sigLen != m_szSign) {
        return ERR_SIGN;
    }
    reverseBytes(sig, m_szSign);
    if (data.getSize()) {
        std::memcpy(result.getData(), data.getData(), data.getSize());
    }
    out = std::move(result);
    return ERR_OK;
}

unsigned CryptoP11::verifySignMessage(const tesel::CBlob& signedData, CryptoHandle peerKey) const {
    if (!m_functions || !isValid()) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    const unsigned size = signedData.getSize();
    if (m_szSign == 0 || size < m_szSign) {
        return ERR_PACKET_INTEGRITY;  // no room for a signature
    }
    const unsigned dataLen = size - m_szSign;
    std::vector<unsigned char> sig(signedData.getData() + dataLen, signedData.getData() + size);
    reverseBytes(sig.data(), sig.size());
    CK_MECHANISM digest{m_hashAlgorithm, m_hashParamSet.getData(), m_hashParamSet.getSize()};
    unsigned char hash[64];
    CK_ULONG hashLen = sizeof hash;
    CK_MECHANISM verify{getKeySizeAlg(m_csp) == CKK_GOSTR3410_512 ? CKM_GOSTR3410_512 : CKM_GOSTR3410, nullptr, 0};
    auto lock = lockSession();
    if (m_functions->C_DigestInit(session(), &digest) != CKR_OK ||
        m_functions->C_Digest(session(), signedData.getData(), dataLen, hash, &hashLen) != CKR_OK ||
        m_functions->C_VerifyInit(session(), &verify, static_cast<CK_OBJECT_HANDLE>(peerKey)) != CKR_OK) {
        return ERR_INTERNAL;
    }
    const CK_RV rv = m_functions->C_Verify(session(), hash, hashLen, sig.data(), sig.size());
    if (rv == CKR_OK) {
        return ERR_OK;
    }
    return rv == CKR_SIGNATURE_INVALID || rv == CKR_SIGNATURE_LEN_RANGE ? ERR_PACKET_INTEGRITY : ERR_INTERNAL;
}

// --- the peer's key and key agreement

unsigned CryptoP11::importPublicKey2Side(const tesel::CBlob& peerBlob, Crypto2SideInfo& peer) {
    return setPublicKey2Side(peerBlob, peer);
}

unsigned CryptoP11::setPublicKey2Side(const tesel::CBlob& peerBlob, Crypto2SideInfo& peer) {
    // The previous peer key object is left to its owner (the connection that
    // imported it): copies of a connection still verify with it.
    if (!m_functions || !isValid() || m_szSign == 0 || peerBlob.getSize() < m_szSign) {
        return ERR_IMPORT_PEER_PUBLIC_KEY;
    }
    const CK_OBJECT_CLASS pubClass = CKO_PUBLIC_KEY;
    const CK_KEY_TYPE keyType = getKeySizeAlg(m_csp);
    CK_ATTRIBUTE t[] = {
        attr(CKA_CLASS, &pubClass, sizeof pubClass),
        attr(CKA_KEY_TYPE, &keyType, sizeof keyType),
        attrBool(CKA_PRIVATE, false),
        attrBool(CKA_TOKEN, false),
        attrBlob(CKA_GOSTR3410_PARAMS, m_signParamSet),
        attrBlob(CKA_GOSTR3411_PARAMS, m_hashParamSet),
        attr(CKA_VALUE, peerBlob.getData() + peerBlob.getSize() - m_szSign, m_szSign),
        attrBool(CKA_VERIFY, true),
    };
    CK_OBJECT_HANDLE handle = 0;
    {
        auto lock = lockSession();
        if (m_functions->C_CreateObject(session(), t, sizeof t / sizeof t[0], &handle) != CKR_OK) {
            return ERR_IMPORT_PEER_PUBLIC_KEY;
        }
    }
    peer.setPublicKey(handle);
    peer.setPublicKeyBlob(peerBlob);
    return ERR_OK;
}

unsigned CryptoP11::createAgreeKey(const tesel::CBlob& peerBlob, const tesel::CBlob& ukm, CK_OBJECT_HANDLE& agreed) {
    agreed = 0;
    if (!m_privateKey) {
        return ERR_OK;
    }
    const unsigned keyBytes = getPubKeySize(m_csp) / 8;
    if (!m_functions || keyBytes == 0 || peerBlob.getSize() < keyBytes || ukm.getSize() != kUkmSize) {
        return ERR_KEY_AGREEMENT;
    }
    unsigned char* peerValue = peerBlob.getData() + peerBlob.getSize() - keyBytes;
    CK_GOSTR3410_DERIVE_PARAMS params2001{CKD_CPDIVERSIFY_KDF, peerValue, keyBytes, ukm.getData(), kUkmSize};
    // 2012: kdf | n | public value (n) | UKM length | UKM, 32-bit fields.
    std::vector<unsigned char> params2012(pkcs11gost::kDerive12Fixed + keyBytes);
    unsigned char* p = params2012.data();
    pkcs11gost::writeLe32(p, CKD_CPDIVERSIFY_KDF);
    pkcs11gost::writeLe32(p + 4, keyBytes);
    std::memcpy(p + 8, peerValue, keyBytes);
    pkcs11gost::writeLe32(p + 8 + keyBytes, kUkmSize);
    std::memcpy(p + 12 + keyBytes, ukm.getData(), kUkmSize);
    CK_MECHANISM mechanism = m_gostCrypto == GOST_2001
                                 ? CK_MECHANISM{CKM_GOSTR3410_DERIVE, &params2001, sizeof params2001}
                                 : CK_MECHANISM{CKM_GOSTR3410_12_DERIVE, p, static_cast<CK_ULONG>(params2012.size())};
    SecretKeyTemplate t(false, true, m_cipherParamSet);
    auto lock = lockSession();
    CK_OBJECT_HANDLE handle = 0;
    if (m_functions->C_DeriveKey(session(), &mechanism, m_privateKey, t.t, t.count, &handle) != CKR_OK) {
        return ERR_KEY_AGREEMENT;
    }
    agreed = handle;
    return ERR_OK;
}

// --- session keys

unsigned CryptoP11::createSessionKey(CryptoHandle& sessionKey, tesel::CBlob& iv) {
    if (!m_functions || !isValid()) {
        return ERR_SESSION_KEY;
    }
    SecretKeyTemplate t(false, false, m_cipherParamSet);
    CK_MECHANISM mechanism{CKM_GOST28147_KEY_GEN, nullptr, 0};
    CK_OBJECT_HANDLE handle = 0;
    {
        auto lock = lockSession();
        if (m_functions->C_GenerateKey(session(), &mechanism, t.t, t.count, &handle) != CKR_OK) {
            return ERR_SESSION_KEY;
        }
    }
    RandomByteVector{kIvSize, iv};
    sessionKey = handle;
    return ERR_OK;
}

unsigned CryptoP11::exportSessionKey(CK_OBJECT_HANDLE key, CK_OBJECT_HANDLE agreed, const tesel::CBlob& ukm,
                                     tesel::CBlob& blob) {
    if (!m_functions || ukm.getSize() != kUkmSize) {
        return ERR_ENCRYPT;
    }
    CK_MECHANISM mechanism{CKM_GOST28147_KEY_WRAP, ukm.getData(), kUkmSize};
    auto lock = lockSession();
    CK_ULONG n = 0;
    if (m_functions->C_WrapKey(session(), &mechanism, agreed, key, nullptr, &n) != CKR_OK || n > 4096) {
        return ERR_ENCRYPT;
    }
    std::vector<unsigned char> wrapped(n ? n : 1);
    if (m_functions->C_WrapKey(session(), &mechanism, agreed, key, wrapped.data(), &n) != CKR_OK) {
        return ERR_ENCRYPT;
    }
    // Some tokens put the UKM in front of the encrypted key and its MAC.
    const unsigned char* keyAndMac = wrapped.data();
    if (n == kWrappedWithUkm) {
        keyAndMac += kUkmSize;
    } else if (n != kWrapped) {
        return ERR_ENCRYPT;
    }
    const tesel::CBlob params = tesel::C_ASN1::encodeSequence(&m_cipherParamSet, 1);
    tesel::CBlob result(kSimpleFixed + params.getSize());
    const unsigned char head[4] = {0x01, 0x20, 0x00, 0x00};
    result.serialize(head, 4);
    result.serialize(kCalgG28147);
    result.serialize(kG28147Magic);
    result.serialize(kCalgG28147);
    result.serialize(ukm.getData(), kUkmSize);
    result.serialize(keyAndMac, kWrapped);
    result.serialize(params.getData(), params.getSize());
    result.moveOffset(0);
    blob = std::move(result);
    return ERR_OK;
}

unsigned CryptoP11::importSessionKey(const tesel::CBlob& data, unsigned& offset, const tesel::CBlob& peerBlob,
                                     CK_OBJECT_HANDLE& key, tesel::CBlob& iv) {
    // Bounds first: the blob with its UKM, key and MAC, the IV length and
    // the IV must all be inside the message.
    const unsigned size = data.getSize();
    if (size < 4 || !m_functions) {
        return ERR_SESSION_KEY;
    }
    const unsigned char* p = data.getData();
    const unsigned n = pkcs11gost::readLe32(p);
    if (n < kSimpleFixed || n > size - 4 || size - 4 - n < 4 + kIvSize) {
        return ERR_SESSION_KEY;
    }
    const unsigned char* blob = p + 4;
    const tesel::CBlob ukm(blob + kSimpleUkm, kUkmSize);
    auto lock = lockSession();
    CK_OBJECT_HANDLE agreed = 0;
    if (const unsigned r = createAgreeKey(peerBlob, ukm, agreed)) {
        return r;
    }
    // The agreed key serves this one key.
    struct Drop {
        const CryptoP11* self;
        CK_OBJECT_HANDLE h;
        ~Drop() { self->destroyObject(h); }
    } dropAgreed{this, agreed};
    CK_MECHANISM mechanism{CKM_GOST28147_KEY_WRAP, ukm.getData(), kUkmSize};
    // A JaCarta GOST2012/256 wants the UKM in front of the key and its MAC.
    const bool withUkm = m_csp == CP_JACARTA_GOST2012_256;
    unsigned char* wrapped = const_cast<unsigned char*>(blob + (withUkm ? kSimpleUkm : kSimpleKey));
    const CK_ULONG wrappedLen = withUkm ? kWrappedWithUkm : kWrapped;
    SecretKeyTemplate t(true, true, m_cipherParamSet);
    CK_OBJECT_HANDLE handle = 0;
    if (m_functions->C_UnwrapKey(session(), &mechanism, agreed, wrapped, wrappedLen, t.t, t.count, &handle) !=
        CKR_OK) {
        return ERR_SESSION_KEY;
    }
    // The IV length field is not checked; the IV follows it.
    iv.init(p + 4 + n + 4, kIvSize);
    key = handle;
    offset = n + 16;
    return ERR_OK;
}

// --- encryption

unsigned CryptoP11::encryptOnRutoken(const tesel::CBlob& plain, tesel::CBlob& out) {
    return cryptWhole(plain, true, out);
}

unsigned CryptoP11::decryptOnRutoken(const tesel::CBlob& cipher, tesel::CBlob& out) {
    return cryptWhole(cipher, false, out);
}

unsigned CryptoP11::cryptWhole(const tesel::CBlob& in, bool encrypt, tesel::CBlob& out) {
    const unsigned failure = encrypt ? ERR_ENCRYPT : ERR_DECRYPT;
    auto crypt = encrypt ? m_functions->C_Encrypt : m_functions->C_Decrypt;
    CK_ULONG n = 0;
    // Encryption never yields less than its input; decryption may strip padding.
    if (crypt(session(), in.getData(), in.getSize(), nullptr, &n) != CKR_OK || (encrypt && n < in.getSize()) ||
        n > in.getSize() + 64) {
        return failure;
    }
    // A buffer even for an empty result: a null one would be a size query
    // again and leave the operation open.
    tesel::CBlob result(static_cast<unsigned>(n ? n : 1));
    if (crypt(session(), in.getData(), in.getSize(), result.getData(), &n) != CKR_OK || n > result.getSize()) {
        return failure;
    }
    if (n == result.getSize()) {
        out = std::move(result);
    } else {
        out.init(result.getData(), static_cast<unsigned>(n));
    }
    return ERR_OK;
}

unsigned CryptoP11::cryptInPieces(const tesel::CBlob& in, bool encrypt, tesel::CBlob& out) {
    const unsigned failure = encrypt ? ERR_ENCRYPT : ERR_DECRYPT;
    auto update = encrypt ? m_functions->C_EncryptUpdate : m_functions->C_DecryptUpdate;
    const unsigned size = in.getSize();
    tesel::CBlob result(size + static_cast<unsigned>(kPieceBuffer));
    unsigned written = 0;
    unsigned char piece[kPieceBuffer];
    unsigned off = 0;
    // While more than one piece remains, whole pieces; then the last one
    // (a whole piece or less) followed by the final call.
    do {
        const unsigned len = size - off > kPiece ? static_cast<unsigned>(kPiece) : size - off;
        CK_ULONG outLen = kPieceBuffer;
        if (update(session(), in.getData() + off, len, piece, &outLen) != CKR_OK || outLen > kPieceBuffer ||
            written + outLen > result.getSize()) {
            return failure;
        }
        std::memcpy(result.getData() + written, piece, outLen);
        written += static_cast<unsigned>(outLen);
        off += len;
    } while (off < size);
    CK_ULONG lastLen = kPieceBuffer;
    const CK_RV rv = encrypt ? m_functions->C_EncryptFinal(session(), piece, &lastLen)
                             : m_functions->C_DecryptFinal(session(), piece, &lastLen);
    if (rv != CKR_OK || lastLen > kPieceBuffer || written + lastLen > result.getSize()) {
        return failure;
    }
    std::memcpy(result.getData() + written, piece, lastLen);
    written += static_cast<unsigned>(lastLen);
    out.init(result.getData(), written);
    return ERR_OK;
}

unsigned CryptoP11::encrypt(const tesel::CBlob& plain, CryptoHandle sessionKey, const tesel::CBlob& iv,
                            tesel::CBlob& out) {
    if (!m_functions || iv.getSize() != kIvSize) {
        return ERR_ENCRYPT;
    }
    CK_MECHANISM mechanism{CKM_GOST28147, iv.getData(), kIvSize};
    auto lock = lockSession();
    if (m_functions->C_EncryptInit(session(), &mechanism, static_cast<CK_OBJECT_HANDLE>(sessionKey)) != CKR_OK) {
        return ERR_ENCRYPT;
    }
    return m_deviceType == P11_DEVICE_JACARTA ? cryptInPieces(plain, true, out) : encryptOnRutoken(plain, out);
}

unsigned CryptoP11::decrypt(const tesel::CBlob& cipher, CryptoHandle sessionKey, const tesel::CBlob& iv,
                            tesel::CBlob& out) {
    if (!m_functions || iv.getSize() != kIvSize) {
        return ERR_DECRYPT;
    }
    CK_MECHANISM mechanism{CKM_GOST28147, iv.getData(), kIvSize};
    auto lock = lockSession();
    if (m_functions->C_DecryptInit(session(), &mechanism, static_cast<CK_OBJECT_HANDLE>(sessionKey)) != CKR_OK) {
        return ERR_DECRYPT;
    }
    out.clear();
    const unsigned r = m_deviceType == P11_DEVICE_JACARTA ? cryptInPieces(cipher, false, out)
                                                          : decryptOnRutoken(cipher, out);
    out.moveOffset(0);
    return r;
}

unsigned CryptoP11::encryptMessage(const tesel::CBlob& plain, Crypto2SideInfo& peer, tesel::CBlob& out) {
    auto lock = lockSession();
    CryptoHandle key = 0;
    tesel::CBlob iv;
    if (const unsigned r = createSessionKey(key, iv)) {
        return r;
    }
    // The session key and the agreed key serve this one message; they go
    // at once so that a long-lived session does not fill the token.
    struct Drop {
        const CryptoP11* self;
        CK_OBJECT_HANDLE session = 0, agreed = 0;
        ~Drop() {
            self->destroyObject(agreed);
            self->destroyObject(session);
        }
    } drop{this, static_cast<CK_OBJECT_HANDLE>(key)};
    tesel::CBlob ukm;
    RandomByteVector{kUkmSize, ukm};
    const tesel::CBlob peerBlob = peer.getPublicKeyBlob();
    if (const unsigned r = createAgreeKey(peerBlob, ukm, drop.agreed)) {
        return r;
    }
    tesel::CBlob blob;
    if (const unsigned r = exportSessionKey(drop.session, drop.agreed, ukm, blob)) {
        return r;
    }
    tesel::CBlob cipher;
    if (const unsigned r = encrypt(plain, key, iv, cipher)) {
        return r;
    }
    tesel::CBlob message(tesel::CBlob::sizeOf(blob) + tesel::CBlob::sizeOf(iv) + cipher.getSize());
    message.serialize(&blob);
    message.serialize(&iv);
    message.serialize(cipher.getData(), cipher.getSize());
    message.moveOffset(0);
    out = std::move(message);
    return ERR_OK;
}

unsigned CryptoP11::decryptMessage(const tesel::CBlob& message, Crypto2SideInfo& peer, tesel::CBlob& out) {
    if (!m_functions || !isValid()) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    auto lock = lockSession();
    unsigned offset = 0;
    CK_OBJECT_HANDLE key = 0;
    tesel::CBlob iv;
    const tesel::CBlob peerBlob = peer.getPublicKeyBlob();
    if (const unsigned r = importSessionKey(message, offset, peerBlob, key, iv)) {
        return r;
    }
    struct Drop {
        const CryptoP11* self;
        CK_OBJECT_HANDLE h;
        ~Drop() { self->destroyObject(h); }
    } drop{this, key};
    const tesel::CBlob cipher(message.getData() + offset, message.getSize() - offset);
    return decrypt(cipher, key, iv, out);
}

}  // namespace qn::crypto
