// The CP entry points of pellamo-gostcsp.dll: advapi32 loads the DLL as the
// provider registered for a GOST provider type and calls these with the
// provider's own handles. Each is one call into the provider's core
// (softgost/provider/ProviderApi.h); a key or hash handle must belong to the
// context it comes with.
#include "softgost/provider/ProviderApi.h"
#include "softgost/windows/CspDll.h"

namespace {

bool ownsKey(HCRYPTPROV hProv, HCRYPTKEY hKey) { return softgost::ownerOfKey(hKey) == hProv && hProv != 0; }
bool ownsHash(HCRYPTPROV hProv, HCRYPTHASH hHash) { return softgost::ownerOfHash(hHash) == hProv && hProv != 0; }

BOOL failWith(DWORD code) {
    SetLastError(code);
    return FALSE;
}

// advapi32 loads the provider DLL for each context and frees it with the
// context. Pinned, the DLL (and libgcrypt with it) stays loaded: handles and
// libgcrypt's state survive, and a failing CryptAcquireContext keeps the
// provider's error, which unloading would overwrite on the way out.
void pinModule() {
    static const bool pinned = [] {
        HMODULE self = nullptr;
        return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                                  reinterpret_cast<LPCWSTR>(&CPAcquireContext), &self) != FALSE;
    }();
    (void)pinned;
}

}  // namespace

extern "C" {

BOOL WINAPI CPAcquireContext(HCRYPTPROV* phProv, LPCSTR szContainer, DWORD dwFlags, ProvVTable* pVTable) {
    if (!pVTable) {
        return failWith(ERROR_INVALID_PARAMETER);
    }
    pinModule();
    return softgost::acquireContext(phProv, szContainer, pVTable->dwProvType, dwFlags);
}

BOOL WINAPI CPReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) { return softgost::releaseContext(hProv, dwFlags); }

BOOL WINAPI CPGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags) {
    return softgost::getProvParam(hProv, dwParam, pbData, pdwDataLen, dwFlags);
}

BOOL WINAPI CPSetProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
    return softgost::setProvParam(hProv, dwParam, pbData, dwFlags);
}

BOOL WINAPI CPGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey) {
    return softgost::getUserKey(hProv, dwKeySpec, phUserKey);
}

BOOL WINAPI CPGenRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) {
    return softgost::genRandom(hProv, dwLen, pbBuffer);
}

BOOL WINAPI CPGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey) {
    return softgost::genKey(hProv, Algid, dwFlags, phKey);
}

BOOL WINAPI CPDeriveKey(HCRYPTPROV /*hProv*/, ALG_ID /*Algid*/, HCRYPTHASH /*hHash*/, DWORD /*dwFlags*/,
                        HCRYPTKEY* /*phKey*/) {
    // Keys come from agreements (VKO) only, never from a hash.
    return failWith(NTE_BAD_ALGID);
}

BOOL WINAPI CPDestroyKey(HCRYPTPROV hProv, HCRYPTKEY hKey) {
    return ownsKey(hProv, hKey) ? softgost::destroyKey(hKey) : failWith(NTE_BAD_KEY);
}

BOOL WINAPI CPSetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
    return ownsKey(hProv, hKey) ? softgost::setKeyParam(hKey, dwParam, pbData, dwFlags) : failWith(NTE_BAD_KEY);
}

BOOL WINAPI CPGetKeyParam(HCRYPTPROV hProv, HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                          DWORD dwFlags) {
    return ownsKey(hProv, hKey) ? softgost::getKeyParam(hKey, dwParam, pbData, pdwDataLen, dwFlags)
                                : failWith(NTE_BAD_KEY);
}

BOOL WINAPI CPExportKey(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTKEY hPubKey, DWORD dwBlobType, DWORD dwFlags,
                        BYTE* pbData, DWORD* pdwDataLen) {
    if (!ownsKey(hProv, hKey) || (hPubKey != 0 && !ownsKey(hProv, hPubKey))) {
        return failWith(NTE_BAD_KEY);
    }
    return softgost::exportKey(hKey, hPubKey, dwBlobType, dwFlags, pbData, pdwDataLen);
}

BOOL WINAPI CPImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey, DWORD dwFlags,
                        HCRYPTKEY* phKey) {
    if (hPubKey != 0 && !ownsKey(hProv, hPubKey)) {
        return failWith(NTE_BAD_KEY);
    }
    return softgost::importKey(hProv, pbData, dwDataLen, hPubKey, dwFlags, phKey);
}

BOOL WINAPI CPEncrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData,
                      DWORD* pdwDataLen, DWORD dwBufLen) {
    return ownsKey(hProv, hKey) ? softgost::encrypt(hKey, hHash, Final, dwFlags, pbData, pdwDataLen, dwBufLen)
                                : failWith(NTE_BAD_KEY);
}

BOOL WINAPI CPDecrypt(HCRYPTPROV hProv, HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData,
                      DWORD* pdwDataLen) {
    return ownsKey(hProv, hKey) ? softgost::decrypt(hKey, hHash, Final, dwFlags, pbData, pdwDataLen)
                                : failWith(NTE_BAD_KEY);
}

BOOL WINAPI CPCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags, HCRYPTHASH* phHash) {
    return softgost::createHash(hProv, Algid, hKey, dwFlags, phHash);
}

BOOL WINAPI CPHashData(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags) {
    return ownsHash(hProv, hHash) ? softgost::hashData(hHash, pbData, dwDataLen, dwFlags) : failWith(NTE_BAD_HASH);
}

BOOL WINAPI CPHashSessionKey(HCRYPTPROV /*hProv*/, HCRYPTHASH /*hHash*/, HCRYPTKEY /*hKey*/, DWORD /*dwFlags*/) {
    // A session key never leaves the provider unwrapped, not even into a hash.
    return failWith(NTE_BAD_ALGID);
}

BOOL WINAPI CPGetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                           DWORD dwFlags) {
    return ownsHash(hProv, hHash) ? softgost::getHashParam(hHash, dwParam, pbData, pdwDataLen, dwFlags)
                                  : failWith(NTE_BAD_HASH);
}

BOOL WINAPI CPSetHashParam(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
    return ownsHash(hProv, hHash) ? softgost::setHashParam(hHash, dwParam, pbData, dwFlags) : failWith(NTE_BAD_HASH);
}

BOOL WINAPI CPDestroyHash(HCRYPTPROV hProv, HCRYPTHASH hHash) {
    return ownsHash(hProv, hHash) ? softgost::destroyHash(hHash) : failWith(NTE_BAD_HASH);
}

BOOL WINAPI CPSignHash(HCRYPTPROV hProv, HCRYPTHASH hHash, DWORD dwKeySpec, LPCWSTR /*szDescription*/,
                       DWORD dwFlags, BYTE* pbSignature, DWORD* pdwSigLen) {
    return ownsHash(hProv, hHash) ? softgost::signHash(hHash, dwKeySpec, dwFlags, pbSignature, pdwSigLen)
                                  : failWith(NTE_BAD_HASH);
}

BOOL WINAPI CPVerifySignature(HCRYPTPROV hProv, HCRYPTHASH hHash, const BYTE* pbSignature, DWORD dwSigLen,
                              HCRYPTKEY hPubKey, LPCWSTR /*szDescription*/, DWORD dwFlags) {
    if (!ownsHash(hProv, hHash)) {
        return failWith(NTE_BAD_HASH);
    }
    return ownsKey(hProv, hPubKey) ? softgost::verifySignature(hHash, pbSignature, dwSigLen, hPubKey, dwFlags)
                                   : failWith(NTE_BAD_KEY);
}

BOOL WINAPI CPDuplicateHash(HCRYPTPROV /*hProv*/, HCRYPTHASH /*hHash*/, DWORD* /*pdwReserved*/, DWORD /*dwFlags*/,
                            HCRYPTHASH* /*phHash*/) {
    return failWith(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL WINAPI CPDuplicateKey(HCRYPTPROV /*hProv*/, HCRYPTKEY /*hKey*/, DWORD* /*pdwReserved*/, DWORD /*dwFlags*/,
                           HCRYPTKEY* /*phKey*/) {
    return failWith(ERROR_CALL_NOT_IMPLEMENTED);
}

}  // extern "C"
