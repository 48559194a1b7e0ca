// CryptoApi: key agreement, session keys and the encrypted message format
// (u32 key blob length, SIMPLEBLOB, u32 IV length, IV, cipher text).
#include <cstring>
#include <limits>

#include "crypto/CryptoApi.h"
#include "crypto/CspAlgorithms.h"
#include "errors/eErrCodes.h"

namespace qn::crypto {

namespace {

constexpr unsigned kPiece = 1024;      // plain text per CryptEncrypt call
constexpr unsigned kPieceBuffer = 2048;
constexpr unsigned kIvSize = 8;
constexpr unsigned kUkmOffset = 16;    // in the SIMPLEBLOB

unsigned readLe32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<unsigned>(p[3]) << 24);
}

}  // namespace

unsigned CryptoApi::setPublicKey2Side(const tesel::CBlob& peerBlob, Crypto2SideInfo& peer) {
    HCRYPTKEY key = 0;
    if (!CryptImportKey(m_provider, peerBlob.getData(), peerBlob.getSize(), 0, 0, &key)) {
        return ERR_IMPORT_PEER_PUBLIC_KEY;
    }
    peer.setPublicKey(key);
    peer.setPublicKeyBlob(peerBlob);
    return ERR_OK;
}

unsigned CryptoApi::importPublicKey2Side(const tesel::CBlob& peerBlob, Crypto2SideInfo& peer) {
    if (const unsigned r = setPublicKey2Side(peerBlob, peer)) {
        return r;
    }
    if (!m_userKey) {
        return ERR_OK;  // verification only
    }
    // A 2012 key whose parameter set is written as 1.2.643.2.2.35.1 is agreed
    // under the equivalent exchange set 1.2.643.2.2.36.0.
    tesel::CBlob copy(peerBlob);
    if (qn::crypto::getGostCrypto(copy) == GOST_2012 && copy.getSize() > 26 && copy[25] == 0x23 &&
        copy[26] == 0x01) {
        copy[25] = 0x24;
        copy[26] = 0x00;
    }
    HCRYPTKEY agreed = 0;
    if (!CryptImportKey(m_provider, copy.getData(), copy.getSize(), m_userKey, 0, &agreed)) {
        return ERR_KEY_AGREEMENT;
    }
    const ALG_ID exportAlg = CALG_PRO_EXPORT;
    CryptSetKeyParam(agreed, getExportSessionKeyAlgId(), reinterpret_cast<const BYTE*>(&exportAlg), 0);
    unsigned char iv[kIvSize] = {};
    DWORD n = sizeof iv;
    tesel::CBlob ivBlob;
    if (CryptGetKeyParam(agreed, KP_IV, iv, &n, 0) && n <= sizeof iv) {
        ivBlob.init(iv, n);
    }
    peer.setAgreeKeyIV(ivBlob);
    peer.setAgreeKey(agreed);
    return ERR_OK;
}

unsigned CryptoApi::createSessionKey(CryptoHandle& sessionKey, tesel::CBlob& iv) {
    HCRYPTKEY key = 0;
    if (!CryptGenKey(m_provider, CALG_G28147, CRYPT_EXPORTABLE | CRYPT_USER_PROTECTED, &key)) {
        return ERR_SESSION_KEY;
    }
    unsigned char buf[kIvSize];
    DWORD n = sizeof buf;
    if (!CryptGetKeyParam(key, KP_IV, buf, &n, 0) || n != kIvSize) {
        CryptDestroyKey(key);
        return ERR_SESSION_KEY;
    }
    iv.init(buf, n);
    sessionKey = key;
    return ERR_OK;
}

unsigned CryptoApi::exportSessionKey(CryptoHandle sessionKey, CryptoHandle agreedKey,
                                     const tesel::CBlob& agreedIV, tesel::CBlob& out) {
    DWORD n = 0;
    if (!CryptExportKey(sessionKey, agreedKey, SIMPLEBLOB, 0, nullptr, &n)) {
        return ERR_INTERNAL;
    }
    tesel::CBlob blob(n);
    const bool ok = CryptExportKey(sessionKey, agreedKey, SIMPLEBLOB, 0, blob.getData(), &n) &&
                    n <= blob.getSize();
    // Every export under one agreed key starts from the IV of the agreement.
    if (agreedIV.getSize() == kIvSize) {
        CryptSetKeyParam(agreedKey, KP_IV, agreedIV.getData(), 0);
    }
    if (!ok) {
        return ERR_INTERNAL;
    }
    out.init(blob.getData(), n);
    return ERR_OK;
}

bool CryptoApi::encryptInPlace(const unsigned char* plain, unsigned n, HCRYPTKEY key,
                               unsigned char* dst) const {
    if (n == 0) {
        unsigned char none[1];
        DWORD len = 0;
        return CryptEncrypt(key, 0, TRUE, 0, none, &len, sizeof none);
    }
    std::memcpy(dst, plain, n);
    for (unsigned off = 0; off < n; off += kPiece) {
        const unsigned piece = n - off < kPiece ? n - off : kPiece;
        const BOOL final = off + piece == n;
        DWORD len = piece;
        // The buffer holds what is left of the text, at most kPieceBuffer.
        const DWORD room = n - off < kPieceBuffer ? n - off : kPieceBuffer;
        if (!CryptEncrypt(key, 0, final, 0, dst + off, &len, room) || len != piece) {
            return false;
        }
    }
    return true;
}

bool CryptoApi::decryptInPlace(unsigned char* data, unsigned n, HCRYPTKEY key) const {
    if (n == 0) {
        unsigned char none[1];
        DWORD len = 0;
        return CryptDecrypt(key, 0, TRUE, 0, none, &len);
    }
    for (unsigned off = 0; off < n; off += kPiece) {
        const unsigned piece = n - off < kPiece ? n - off : kPiece;
        DWORD len = piece;
        if (!CryptDecrypt(key, 0, off + piece == n, 0, data + off, &len) || len != piece) {
            return false;
        }
    }
    return true;
}

unsigned CryptoApi::encrypt(const tesel::CBlob& plain, CryptoHandle sessionKey, const tesel::CBlob&,
                            tesel::CBlob& out) {
    tesel::CBlob result(plain.getSize());
    if (!encryptInPlace(plain.getData(), plain.getSize(), sessionKey, result.getData())) {
        return ERR_ENCRYPT;
    }
    out = std::move(result);
    return ERR_OK;
}

unsigned CryptoApi::encryptMessage(const tesel::CBlob& plain, Crypto2SideInfo& peer, tesel::CBlob& out) {
    return encryptMessageInto(plain.getBLOB(), peer, 0, 0, out);
}

unsigned CryptoApi::encryptMessageInto(const tesel::BLOB& plain, Crypto2SideInfo& peer, unsigned headRoom,
                                       unsigned tailRoom, tesel::CBlob& out) {
    CryptoHandle key = 0;
    tesel::CBlob iv;
    if (const unsigned r = createSessionKey(key, iv)) {
        return r;
    }
    tesel::CBlob blob;
    unsigned r = exportSessionKey(key, peer.getAgreeKey(), peer.getAgreeKeyIV(), blob);
    if (r == ERR_OK) {
        // One buffer of the final size; the text is encrypted in place there.
        const unsigned n = plain.cbData;
        tesel::CBlob message(headRoom + tesel::CBlob::sizeOf(blob) + tesel::CBlob::sizeOf(iv) + n + tailRoom);
        message.moveOffset(headRoom);
        message.serialize(&blob);
        message.serialize(&iv);
        if (encryptInPlace(plain.pbData, n, key, message.getData() + message.getOffset())) {
            message.moveOffset(0);
            out = std::move(message);
        } else {
            r = ERR_ENCRYPT;
        }
    }
    CryptDestroyKey(key);  // a session key serves one message
    return r;
}

unsigned CryptoApi::importSessionKey(const tesel::CBlob& data, unsigned& offset, CryptoHandle agreedKey,
                                     CryptoHandle& sessionKey) {
    return importSessionKeyAt(data.getData(), data.getSize(), offset, agreedKey, sessionKey);
}

unsigned CryptoApi::importSessionKeyAt(const unsigned char* p, unsigned size, unsigned& offset,
                                       CryptoHandle agreedKey, CryptoHandle& sessionKey) {
    // Bounds first: the blob with its UKM, the IV length and the IV must all
    // be inside the message.
    if (size < 4) {
        return ERR_SESSION_KEY;
    }
    const unsigned n = readLe32(p);
    if (n < kUkmOffset + 8 || n > size - 4 || size - 4 - n < 4 + kIvSize) {
        return ERR_SESSION_KEY;
    }
    const unsigned char* blob = p + 4;
    HCRYPTKEY key = 0;
    if (!CryptImportKey(m_provider, blob, n, agreedKey, 0, &key)) {
        return ERR_SESSION_KEY;
    }
    CryptSetKeyParam(agreedKey, KP_IV, blob + kUkmOffset, 0);
    // The IV length field is not checked; the IV follows it.
    if (!CryptSetKeyParam(key, KP_IV, p + 4 + n + 4, 0)) {
        CryptDestroyKey(key);
        return ERR_SESSION_KEY;
    }
    sessionKey = key;
    offset = n + 4 + 4 + kIvSize;
    return ERR_OK;
}

unsigned CryptoApi::decryptMessage(const tesel::CBlob& message, Crypto2SideInfo& peer, tesel::CBlob& out) {
    return decryptMessageInto(message.getBLOB(), peer, 0, out);
}

unsigned CryptoApi::decryptMessageInto(const tesel::BLOB& message, Crypto2SideInfo& peer, unsigned headRoom,
                                       tesel::CBlob& out) {
    if (!m_provider) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    const unsigned n = message.cbData;
    if (n > 0 && message.pbData == nullptr) {
        return ERR_DECRYPT;
    }
    const unsigned char* p = message.pbData;
    unsigned offset = 0;
    CryptoHandle key = 0;
    if (const unsigned r = importSessionKeyAt(p, n, offset, peer.getAgreeKey(), key)) {
        return r;
    }
    // The one copy of the text: decrypted in place in its own buffer (also
    // when out holds the message itself), behind the caller's room.
    if (headRoom > std::numeric_limits<unsigned>::max() - (n - offset)) {
        CryptDestroyKey(key);
        return ERR_DECRYPT;
    }
    tesel::CBlob plain(headRoom + (n - offset));
    if (n > offset) std::memcpy(plain.getData() + headRoom, p + offset, n - offset);
    const bool ok = decryptInPlace(plain.getData() + headRoom, n - offset, key);
    CryptDestroyKey(key);
    if (!ok) {
        out.clear();
        return ERR_DECRYPT;
    }
    out = std::move(plain);
    out.moveOffset(0);
    return ERR_OK;
}

unsigned CryptoApi::decrypt(const tesel::CBlob&, CryptoHandle, const tesel::CBlob&, tesel::CBlob&) {
    return ERR_OK;  // all decryption goes through decryptMessage
}

}  // namespace qn::crypto
