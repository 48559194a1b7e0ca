// Keys of the software GOST provider: CryptGenKey, CryptDestroyKey,
// CryptSetKeyParam, CryptGetKeyParam, CryptEncrypt, CryptDecrypt.
#include <cstring>

#include "softgost/provider/CertParse.h"
#include "softgost/provider/CspObjects.h"
#include "softgost/gost/GostEc.h"
#include "softgost/provider/KeyContainerStore.h"

using namespace plcsp;

namespace {

BOOL putDword(DWORD v, BYTE* out, DWORD* len) { return putOutput(&v, sizeof v, out, len); }

BOOL generateKeyPair(HCRYPTPROV hProv, Provider& prov, DWORD flags, HCRYPTKEY* phKey) {
    if (prov.verifyContext) {
        return fail(NTE_BAD_KEYSET);
    }
    const DWORD bits = flags >> 16;
    if (bits != 0 && bits != prov.cls->bits) {
        return fail(NTE_BAD_FLAGS);
    }
    const CurveInfo* curve = curveOfOid(prov.cls->curveOid);
    auto pair = std::make_shared<KeyPair>();
    if (!curve || !ecGenerate(*curve, pair->d, pair->pub)) {
        return fail(NTE_FAIL);
    }
    pair->cls = prov.cls;
    pair->curve = curve;
    pair->curveOid = prov.cls->curveOid;
    pair->hashOid = prov.cls->hashParamOid;
    pair->container = prov.container;

    StoredKey stored;
    stored.provType = prov.type;
    stored.pubKeyAlg = prov.cls->pubKeyAlg;
    stored.curveOid = pair->curveOid;
    stored.hashOid = pair->hashOid;
    stored.pub = pair->pub;
    stored.d = privateToBytes(pair->d.get(), curve->coordBytes);
    if (stored.d.empty()) {
        return fail(NTE_FAIL);
    }
    if (const DWORD e = containers::writeKey(prov.container, stored)) {
        return fail(e);
    }
    prov.userKey = pair;
    auto key = std::make_shared<KeyObject>();
    key->kind = KeyKind::Pair;
    key->owner = hProv;
    key->pair = std::move(pair);
    *phKey = registry().addKey(std::move(key));
    return TRUE;
}

BOOL setCertificate(KeyObject& key, const BYTE* der) {
    const std::size_t n = derLengthFromHeader(der);
    ParsedCert cert;
    Bytes value;
    if (n == 0 || !parseCertificate(der, n, cert) || !gostKeyValue(cert.spkiKey, value)) {
        return fail(NTE_BAD_DATA);
    }
    // The certificate must belong to this key pair.
    if (value != key.pair->pub) {
        return fail(NTE_BAD_PUBLIC_KEY);
    }
    const DWORD e = containers::writeCertificate(key.pair->container, der, n);
    return e ? fail(e) : TRUE;
}

// Runs a session key's CFB stream over data; the stream starts at the key's
// IV on the first call and ends with the final one.
BOOL cfb(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL final, BYTE* data, DWORD n, bool encrypt) {
    auto key = registry().key(hKey);
    if (!key || key->kind != KeyKind::Session) {
        return fail(NTE_BAD_KEY);
    }
    if (hHash != 0) {
        return fail(NTE_BAD_HASH);
    }
    std::lock_guard<std::mutex> lock(key->mutex);
    if (key->stream.active() && key->stream.encrypting() != encrypt) {
        key->stream.stop();
    }
    if (!key->stream.active() &&
        !key->stream.start(key->secret.data(), key->sboxOid, key->iv, encrypt)) {
        return fail(NTE_FAIL);
    }
    const bool ok = key->stream.process(data, n);
    if (final || !ok) {
        key->stream.stop();
    }
    return ok ? TRUE : fail(NTE_FAIL);
}

}  // namespace

BOOL softgost::genKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey) {
    auto prov = registry().provider(hProv);
    if (!prov) {
        return fail(NTE_BAD_UID);
    }
    if (!phKey) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (Algid == AT_KEYEXCHANGE || Algid == prov->cls->agreeAlg) {
        std::lock_guard<std::mutex> lock(prov->mutex);
        return generateKeyPair(hProv, *prov, dwFlags, phKey);
    }
    if (Algid != CALG_G28147) {
        return fail(NTE_BAD_ALGID);
    }
    auto key = std::make_shared<KeyObject>();
    key->kind = KeyKind::Session;
    key->owner = hProv;
    key->secret = SecureBytes(32);
    randomBytes(key->secret.data(), 32);
    randomBytes(key->iv, 8);
    key->sboxOid = prov->cls->cipherOid;
    key->exportable = (dwFlags & CRYPT_EXPORTABLE) != 0;
    *phKey = registry().addKey(std::move(key));
    return TRUE;
}

BOOL softgost::destroyKey(HCRYPTKEY hKey) { return registry().removeKey(hKey) ? TRUE : fail(NTE_BAD_KEY); }

BOOL softgost::setKeyParam(HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD /*dwFlags*/) {
    auto key = registry().key(hKey);
    if (!key) {
        return fail(NTE_BAD_KEY);
    }
    if (!pbData) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard<std::mutex> lock(key->mutex);
    switch (dwParam) {
        case KP_IV:
            if (key->kind != KeyKind::Session && key->kind != KeyKind::Agree) {
                return fail(NTE_BAD_TYPE);
            }
            std::memcpy(key->iv, pbData, 8);
            key->stream.stop();  // the new IV applies from the next block of data
            return TRUE;
        case KP_ALGID:
        case KP_EXPORT_ALGID2: {
            if (key->kind != KeyKind::Agree) {
                return fail(NTE_BAD_TYPE);
            }
            ALG_ID alg = 0;
            std::memcpy(&alg, pbData, sizeof alg);
            if (alg != CALG_PRO_EXPORT && alg != CALG_PRO12_EXPORT) {
                return fail(NTE_BAD_ALGID);
            }
            key->exportAlg = alg;
            return TRUE;
        }
        case KP_CERTIFICATE:
            if (key->kind != KeyKind::Pair) {
                return fail(NTE_BAD_TYPE);
            }
            return setCertificate(*key, pbData);
        default:
            return fail(NTE_BAD_TYPE);
    }
}

BOOL softgost::getKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                      DWORD /*dwFlags*/) {
    auto key = registry().key(hKey);
    if (!key) {
        return fail(NTE_BAD_KEY);
    }
    if (!pdwDataLen) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard<std::mutex> lock(key->mutex);
    const bool symmetric = key->kind == KeyKind::Session || key->kind == KeyKind::Agree;
    switch (dwParam) {
        case KP_IV:
            if (!symmetric) {
                return fail(NTE_BAD_TYPE);
            }
            return putOutput(key->iv, 8, pbData, pdwDataLen);
        case KP_ALGID:
            switch (key->kind) {
                case KeyKind::Session:
                    return putDword(CALG_G28147, pbData, pdwDataLen);
                case KeyKind::Agree:
                    return putDword(key->exportAlg, pbData, pdwDataLen);
                case KeyKind::Pair:
                    return putDword(key->pair->cls->agreeAlg, pbData, pdwDataLen);
                case KeyKind::Public:
                    return putDword(key->pub->cls->pubKeyAlg, pbData, pdwDataLen);
            }
            return fail(NTE_BAD_TYPE);
        case KP_EXPORT_ALGID2:
            if (key->kind != KeyKind::Agree) {
                return fail(NTE_BAD_TYPE);
            }
            return putDword(key->exportAlg, pbData, pdwDataLen);
        case KP_KEYLEN:
            if (symmetric) {
                return putDword(256, pbData, pdwDataLen);
            }
            return putDword(key->kind == KeyKind::Pair ? key->pair->cls->bits : key->pub->cls->bits,
                            pbData, pdwDataLen);
        case KP_BLOCKLEN:
            return putDword(symmetric ? 64 : 0, pbData, pdwDataLen);
        case KP_CERTIFICATE: {
            if (key->kind != KeyKind::Pair) {
                return fail(NTE_BAD_TYPE);
            }
            Bytes der;
            if (const DWORD e = containers::readCertificate(key->pair->container, der)) {
                return fail(e);
            }
            return putOutput(der.data(), static_cast<DWORD>(der.size()), pbData, pdwDataLen);
        }
        default:
            return fail(NTE_BAD_TYPE);
    }
}

BOOL softgost::encrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD /*dwFlags*/, BYTE* pbData,
                  DWORD* pdwDataLen, DWORD dwBufLen) {
    if (!pdwDataLen) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (!pbData) {
        // Size query: a stream cipher's output is as long as its input.
        return registry().key(hKey) ? TRUE : fail(NTE_BAD_KEY);
    }
    if (*pdwDataLen > dwBufLen) {
        return fail(ERROR_MORE_DATA);
    }
    return cfb(hKey, hHash, Final, pbData, *pdwDataLen, true);
}

BOOL softgost::decrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD /*dwFlags*/, BYTE* pbData,
                  DWORD* pdwDataLen) {
    if (!pdwDataLen || (!pbData && *pdwDataLen != 0)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    return cfb(hKey, hHash, Final, pbData, *pdwDataLen, false);
}

HCRYPTPROV softgost::ownerOfKey(HCRYPTKEY hKey) {
    auto key = registry().key(hKey);
    return key ? key->owner : 0;
}
