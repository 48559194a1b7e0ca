#include "crypto/CryptoBase.h"

#include "crypto/C_ASN1.h"
#include "crypto/CspAlgorithms.h"
#include "errors/eErrCodes.h"

namespace qn::crypto {

namespace {

constexpr unsigned kCalgG28147 = 0x661E;

void putLe32(tesel::CBlob& b, unsigned v) { b.serialize(v); }

}  // namespace

void CryptoBase::setCSP(eSupportCP kind) {
    m_csp = kind;
    m_szSign = getSignSize(kind);
    m_hashParamSet = tesel::C_ASN1::encode_ObjId(get_HASH_PARAM_SET_ALG_OID(kind));
    m_hashAlgorithm = getHashAlgId(kind);
    m_signParamSet = tesel::C_ASN1::encode_ObjId(get_SIGN_PARAM_SET_ALG_OID(kind));
    m_signAlgorithm = getSignAlgId(kind);
    m_cipherParamSet = tesel::C_ASN1::encode_ObjId(get_28147_ALG_OID(kind));
    m_cipherAlgorithm = kCalgG28147;
    m_gostCrypto = qn::crypto::getGostCrypto(kind);
}

void CryptoBase::releaseHandle(CryptoHandle) {}

unsigned CryptoBase::blobToCertificate(const tesel::CBlob& blob, const CERT_CONTEXT** out) {
    if (!out) {
        return ERR_CERT_DAMAGED;
    }
    *out = nullptr;
    if (blob.isEmpty()) {
        return ERR_CERT_DAMAGED;
    }
    // Only certificate content is asked for: with every content type a CRL,
    // a CTL or a serialized store would come back as a context or store of
    // another kind.
    CRYPT_DATA_BLOB data{blob.getSize(), blob.getData()};
    DWORD contentType = 0;
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    const void* context = nullptr;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &data, CERT_QUERY_CONTENT_FLAG_CERT | CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                          CERT_QUERY_FORMAT_FLAG_BINARY | CERT_QUERY_FORMAT_FLAG_BASE64_ENCODED, 0, nullptr,
                          &contentType, nullptr, &store, &message, &context)) {
        return ERR_CERT_DAMAGED;
    }
    const CERT_CONTEXT* cert = nullptr;
    if (contentType == CERT_QUERY_CONTENT_CERT) {
        cert = static_cast<const CERT_CONTEXT*>(context);
    } else if (contentType == CERT_QUERY_CONTENT_PKCS7_SIGNED && store) {
        // A PKCS#7 message gives no context: its first certificate is taken
        // from the store of its certificates (with a reference of its own).
        cert = CertEnumCertificatesInStore(store, nullptr);
    } else if (contentType == CERT_QUERY_CONTENT_CRL) {
        CertFreeCRLContext(static_cast<const CRL_CONTEXT*>(context));  // not asked for; never kept
    }
    if (store) {
        CertCloseStore(store, 0);
    }
    if (message) {
        CryptMsgClose(message);
    }
    if (!cert) {
        return ERR_CERT_DAMAGED;
    }
    *out = cert;
    return ERR_OK;
}

unsigned CryptoBase::blobToCertificate(const tesel::CBlob& blob, CERT_CONTEXT** out) {
    const CERT_CONTEXT* context = nullptr;
    const unsigned r = blobToCertificate(blob, out ? &context : nullptr);
    if (out) {
        *out = const_cast<CERT_CONTEXT*>(context);
    }
    return r;
}

unsigned CryptoBase::publicKeyInfoFromCert(const CERT_CONTEXT* cert, tesel::CBlob& out) {
    out.clear();
    if (!cert || !cert->pCertInfo) {
        return ERR_CERT_DAMAGED;
    }
    const CERT_PUBLIC_KEY_INFO& spki = cert->pCertInfo->SubjectPublicKeyInfo;
    const CRYPT_BIT_BLOB& key = spki.PublicKey;
    // The key field is an OCTET STRING: tag 04, then a short length (64-byte
    // keys) or 81 and one length byte (128-byte keys).
    if (!key.pbData || key.cbData < 2 || key.pbData[0] != 0x04) {
        return ERR_CERT_DAMAGED;
    }
    unsigned header = 2;
    unsigned length = key.pbData[1];
    if (length == 0x81 && key.cbData >= 3) {
        header = 3;
        length = key.pbData[2];
    } else if (length & 0x80) {
        return ERR_CERT_DAMAGED;
    }
    if (key.cbData - header != length) {
        return ERR_CERT_DAMAGED;
    }
    const CRYPT_OBJID_BLOB& params = spki.Algorithm.Parameters;
    const int alg = getPubKeyAlgId(std::string(spki.Algorithm.pszObjId ? spki.Algorithm.pszObjId : ""));
    out.allocate(16 + params.cbData + length);
    const unsigned char header8[4] = {0x06, 0x20, 0x00, 0x00};
    out.serialize(header8, 4);
    putLe32(out, static_cast<unsigned>(alg));
    out.serialize(reinterpret_cast<const unsigned char*>("MAG1"), 4);
    putLe32(out, length * 8);
    if (params.cbData) {
        out.serialize(params.pbData, params.cbData);
    }
    out.serialize(key.pbData + header, length);
    out.moveOffset(0);
    return ERR_OK;
}

}  // namespace qn::crypto
