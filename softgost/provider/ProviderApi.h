// The software GOST provider's operations, in the shape of a CryptoAPI
// service provider: every call returns TRUE, or FALSE with the CryptoAPI
// error number set as the thread's last error. Handles are the provider's
// own numbers; key and hash handles are unique across provider contexts, so
// the calls that CryptoAPI gives a key or hash alone need no context.
//
// Two faces call these: on Linux the advapi32-shaped functions that the
// program uses (softgost/linux), on Windows the CP entry points of the
// provider DLL that advapi32 loads (softgost/windows).
#pragma once

#include <vector>

#include "platform/wincrypt.h"

namespace softgost {

// The provider types served (2, 75, 77, 78, 80, 81) and the provider's name
// for each (nullptr for another type): PP_NAME answers it, and the Windows
// DLL registers itself under it.
std::vector<DWORD> providerTypes();
const char* providerName(DWORD provType);

// Provider types 2, 75, 77, 78, 80 and 81; flags CRYPT_VERIFYCONTEXT,
// CRYPT_NEWKEYSET, CRYPT_DELETEKEYSET, CRYPT_MACHINE_KEYSET, CRYPT_SILENT.
BOOL acquireContext(HCRYPTPROV* phProv, LPCSTR szContainer, DWORD dwProvType, DWORD dwFlags);
BOOL releaseContext(HCRYPTPROV hProv, DWORD dwFlags);
BOOL getProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags);
BOOL setProvParam(HCRYPTPROV hProv, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);
BOOL getUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey);
BOOL genRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer);

BOOL genKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY* phKey);
BOOL destroyKey(HCRYPTKEY hKey);
BOOL setKeyParam(HCRYPTKEY hKey, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);
BOOL getKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags);
BOOL encrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen,
             DWORD dwBufLen);
BOOL decrypt(HCRYPTKEY hKey, HCRYPTHASH hHash, BOOL Final, DWORD dwFlags, BYTE* pbData, DWORD* pdwDataLen);
BOOL exportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags, BYTE* pbData,
               DWORD* pdwDataLen);
BOOL importKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey, DWORD dwFlags,
               HCRYPTKEY* phKey);

BOOL createHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags, HCRYPTHASH* phHash);
BOOL hashData(HCRYPTHASH hHash, const BYTE* pbData, DWORD dwDataLen, DWORD dwFlags);
BOOL getHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags);
// HP_HASHVAL only: a hash value computed elsewhere, to sign or verify.
BOOL setHashParam(HCRYPTHASH hHash, DWORD dwParam, const BYTE* pbData, DWORD dwFlags);
BOOL destroyHash(HCRYPTHASH hHash);
BOOL signHash(HCRYPTHASH hHash, DWORD dwKeySpec, DWORD dwFlags, BYTE* pbSignature, DWORD* pdwSigLen);
BOOL verifySignature(HCRYPTHASH hHash, const BYTE* pbSignature, DWORD dwSigLen, HCRYPTKEY hPubKey,
                     DWORD dwFlags);

// The provider context that owns a key or hash handle; 0 when none does.
HCRYPTPROV ownerOfKey(HCRYPTKEY hKey);
HCRYPTPROV ownerOfHash(HCRYPTHASH hHash);

}  // namespace softgost
