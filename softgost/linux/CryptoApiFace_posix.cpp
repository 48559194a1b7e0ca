// The advapi32 CryptoAPI calls on Linux: the program's CryptoAPI provider is
// the software GOST provider, called directly. The provider name is not
// looked at: there is one provider for every GOST provider type, as there
// is one default provider per type on Windows.
#include "platform/wincrypt.h"
#include "softgost/provider/ProviderApi.h"

BOOL CryptAcquireContextA(HCRYPTPROV* phProv, LPCSTR szContainer, LPCSTR /*szProvider*/, DWORD dwProvType,
                          DWORD dwFlags) {
    return softgost::acquireContext(phProv, szContainer, dwProvType, dwFlags);
}

BOOL CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) { return softgost::releaseContext(hProv, dwFlags); }

BOOL CryptGetProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags) {
    return softgost::getProvParam(hProv, dwParam, pbData, pdwDataLen, dwFlags);
}

BOOL CryptGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey) {
    return softgost::genKey(hProv, Algid, dwFlags, phKey);
}

BOOL CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey) {
    return softgost::getUserKey(hProv, dwKeySpec, phUserKey);
}

BOOL CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags, BYTE* pbData,
                    DWORD* pdwDataLen) {
    return softgost::exportKey(hKey, hExpKey, dwBlobType, dwFlags, pbData, pdwDataLen);
}

BOOL CryptImportKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey, DWORD dwFlags,
                    HCRYPTKEY* phKey) {
    return softgost::importKey(hProv, pbData, dwDataLen, hPubKey, dwFlags, phKey);
}

BOOL CryptSetKeyParam(HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags) {
    return softgost::setKeyParam(hKey, dwParam, pbData, dwFlags);
}

BOOL CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags) {
    return softgost::getKeyParam(hKey, dwParam, pbData, pdwDataLen, dwFlags);
}

BOOL CryptDestroyKey(HCRYPTKEY hKey) { return softgost::destroyKey(hKey); }

BOOL CryptEncrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen,
                  DWORD dwBufLen) {
    return softgost::encrypt(hKey, hHash, Final, dwFlags, pbData, pdwDataLen, dwBufLen);
}

BOOL CryptDecrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen) {
    return softgost::decrypt(hKey, hHash, Final, dwFlags, pbData, pdwDataLen);
}

BOOL CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags, HCRYPTHASH* phHash) {
    return softgost::createHash(hProv, Algid, hKey, dwFlags, phHash);
}

BOOL CryptHashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags) {
    return softgost::hashData(hHash, pbData, dwDataLen, dwFlags);
}

BOOL CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags) {
    return softgost::getHashParam(hHash, dwParam, pbData, pdwDataLen, dwFlags);
}

BOOL CryptSignHashA(HCRYPTHASH hHash, DWORD dwKeySpec, LPCSTR /*szDescription*/, DWORD dwFlags,
                    BYTE* pbSignature, DWORD* pdwSigLen) {
    return softgost::signHash(hHash, dwKeySpec, dwFlags, pbSignature, pdwSigLen);
}

BOOL CryptVerifySignatureA(HCRYPTHASH hHash, const BYTE* pbSignature, DWORD dwSigLen, HCRYPTKEY hPubKey,
                           LPCSTR /*szDescription*/, DWORD dwFlags) {
    return softgost::verifySignature(hHash, pbSignature, dwSigLen, hPubKey, dwFlags);
}

BOOL CryptDestroyHash(HCRYPTHASH hHash) { return softgost::destroyHash(hHash); }
