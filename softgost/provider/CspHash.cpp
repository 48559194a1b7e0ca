// Hashes and signatures of the software GOST provider: CryptCreateHash,
// CryptHashData, CryptGetHashParam, CryptSignHashA, CryptVerifySignatureA,
// CryptDestroyHash.
#include <cstring>

#include "softgost/provider/CspObjects.h"
#include "softgost/gost/GostEc.h"

using namespace plcsp;

namespace {

// The hash value; the hash cannot take more data afterwards.
const std::vector<unsigned char>& finish(HashObject& h) {
    if (!h.finished) {
        const unsigned char* v = gcry_md_read(h.md.get(), h.info->gcryAlgo);
        h.value.assign(v, v + h.info->size);
        h.finished = true;
    }
    return h.value;
}

}  // namespace

BOOL softgost::createHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags,
                     HCRYPTHASH* phHash) {
    if (!registry().provider(hProv)) {
        return fail(NTE_BAD_UID);
    }
    if (!phHash) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (hKey != 0) {
        return fail(NTE_BAD_KEY);  // keyed hashes are not offered
    }
    if (dwFlags != 0) {
        return fail(NTE_BAD_FLAGS);
    }
    const HashInfo* info = hashOfAlgId(Algid);
    if (!info) {
        return fail(NTE_BAD_ALGID);
    }
    gcry_md_hd_t md = nullptr;
    if (gcry_md_open(&md, info->gcryAlgo, 0)) {
        return fail(NTE_FAIL);
    }
    auto h = std::make_shared<HashObject>();
    h->owner = hProv;
    h->info = info;
    h->md.reset(md);
    *phHash = registry().addHash(std::move(h));
    return TRUE;
}

BOOL softgost::hashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD /*dwFlags*/) {
    auto h = registry().hash(hHash);
    if (!h) {
        return fail(NTE_BAD_HASH);
    }
    if (!pbData && dwDataLen != 0) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard<std::mutex> lock(h->mutex);
    if (h->finished) {
        return fail(NTE_BAD_HASH_STATE);
    }
    if (dwDataLen) {
        gcry_md_write(h->md.get(), pbData, dwDataLen);
    }
    return TRUE;
}

BOOL softgost::getHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                       DWORD /*dwFlags*/) {
    auto h = registry().hash(hHash);
    if (!h) {
        return fail(NTE_BAD_HASH);
    }
    if (!pdwDataLen) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard<std::mutex> lock(h->mutex);
    switch (dwParam) {
        case HP_ALGID: {
            const DWORD v = h->info->algId;
            return putOutput(&v, sizeof v, pbData, pdwDataLen);
        }
        case HP_HASHSIZE: {
            const DWORD v = h->info->size;
            return putOutput(&v, sizeof v, pbData, pdwDataLen);
        }
        case HP_HASHVAL:
            if (!pbData) {
                *pdwDataLen = h->info->size;
                return TRUE;
            }
            if (*pdwDataLen < h->info->size) {
                *pdwDataLen = h->info->size;
                return fail(ERROR_MORE_DATA);
            }
            return putOutput(finish(*h).data(), h->info->size, pbData, pdwDataLen);
        default:
            return fail(NTE_BAD_TYPE);
    }
}

BOOL softgost::destroyHash(HCRYPTHASH hHash) {
    return registry().removeHash(hHash) ? TRUE : fail(NTE_BAD_HASH);
}

BOOL softgost::signHash(HCRYPTHASH hHash, DWORD dwKeySpec, DWORD /*dwFlags*/, BYTE* pbSignature,
                        DWORD* pdwSigLen) {
    auto h = registry().hash(hHash);
    if (!h) {
        return fail(NTE_BAD_HASH);
    }
    if (!pdwSigLen) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    auto prov = registry().provider(h->owner);
    std::shared_ptr<KeyPair> pair;
    if (prov) {
        std::lock_guard<std::mutex> lock(prov->mutex);
        pair = prov->userKey;
    }
    if (dwKeySpec != AT_KEYEXCHANGE || !pair) {
        return fail(NTE_NO_KEY);
    }
    const DWORD sigLen = 2 * pair->curve->coordBytes;
    if (!pbSignature) {
        *pdwSigLen = sigLen;
        return TRUE;
    }
    if (*pdwSigLen < sigLen) {
        *pdwSigLen = sigLen;
        return fail(ERROR_MORE_DATA);
    }
    std::lock_guard<std::mutex> lock(h->mutex);
    if (h->info->algId != pair->cls->hashAlg) {
        return fail(NTE_BAD_ALGID);
    }
    const auto& digest = finish(*h);
    if (!ecSign(*pair->curve, pair->d.get(), digest.data(), digest.size(), pbSignature)) {
        return fail(NTE_FAIL);
    }
    *pdwSigLen = sigLen;
    return TRUE;
}

BOOL softgost::verifySignature(HCRYPTHASH hHash, const BYTE* pbSignature, DWORD dwSigLen, HCRYPTKEY hPubKey,
                               DWORD /*dwFlags*/) {
    auto h = registry().hash(hHash);
    if (!h) {
        return fail(NTE_BAD_HASH);
    }
    auto key = registry().key(hPubKey);
    if (!key || (key->kind != KeyKind::Public && key->kind != KeyKind::Pair)) {
        return fail(NTE_BAD_KEY);
    }
    const KeyClassInfo* cls = key->kind == KeyKind::Pair ? key->pair->cls : key->pub->cls;
    const CurveInfo* curve = key->kind == KeyKind::Pair ? key->pair->curve : key->pub->curve;
    const std::vector<unsigned char>& pub = key->kind == KeyKind::Pair ? key->pair->pub : key->pub->pub;
    std::lock_guard<std::mutex> lock(h->mutex);
    if (h->info->algId != cls->hashAlg) {
        return fail(NTE_BAD_ALGID);
    }
    if (!pbSignature || dwSigLen != 2 * curve->coordBytes) {
        return fail(NTE_BAD_SIGNATURE);
    }
    const auto& digest = finish(*h);
    if (!ecVerify(*curve, pub.data(), digest.data(), digest.size(), pbSignature)) {
        return fail(NTE_BAD_SIGNATURE);
    }
    return TRUE;
}

BOOL softgost::setHashParam(HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData, DWORD /*dwFlags*/) {
    auto h = registry().hash(hHash);
    if (!h) {
        return fail(NTE_BAD_HASH);
    }
    if (dwParam != HP_HASHVAL) {
        return fail(NTE_BAD_TYPE);
    }
    if (!pbData) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard<std::mutex> lock(h->mutex);
    h->value.assign(pbData, pbData + h->info->size);
    h->finished = true;
    return TRUE;
}

HCRYPTPROV softgost::ownerOfHash(HCRYPTHASH hHash) {
    auto h = registry().hash(hHash);
    return h ? h->owner : 0;
}
