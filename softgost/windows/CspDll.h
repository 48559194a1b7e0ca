// pellamo-gostcsp.dll: the software GOST provider as a CryptoAPI service
// provider DLL, for development and tests on Windows and under wine. It is
// never installed with the program.
#pragma once

#include "platform/wincrypt.h"

// What advapi32 hands CPAcquireContext (the layout of the provider kit's
// VTableProvStruc, which mingw's headers lack); the provider reads the
// provider type the context is asked for.
struct ProvVTable {
    DWORD Version;
    FARPROC FuncVerifyImage;
    FARPROC FuncReturnhWnd;
    DWORD dwProvType;
    BYTE* pbContextInfo;
    DWORD cbContextInfo;
    LPSTR pszProvName;
};

extern "C" {
BOOL WINAPI CPAcquireContext(HCRYPTPROV* phProv, LPCSTR szContainer, DWORD dwFlags, ProvVTable* pVTable);
// crypt32's per-OID import of a certificate's public key (registered for the
// GOST public key OIDs).
BOOL WINAPI CryptDllImportPublicKeyInfoEx(HCRYPTPROV hCryptProv, DWORD dwCertEncodingType,
                                          PCERT_PUBLIC_KEY_INFO pInfo, ALG_ID aiKeyAlg, DWORD dwFlags,
                                          void* pvAuxInfo, HCRYPTKEY* phKey);
HRESULT WINAPI DllRegisterServer();
HRESULT WINAPI DllUnregisterServer();
}
