// CryptDllImportPublicKeyInfoEx: crypt32 calls it (CryptImportPublicKeyInfoEx,
// certificate signature checks) for a key whose algorithm OID the DLL
// registered. The handle is advapi32's, so the key goes in through
// CryptImportKey like any caller's PUBLICKEYBLOB.
#include <vector>

#include "softgost/provider/PublicKeyInfo.h"
#include "softgost/windows/CspDll.h"

extern "C" BOOL WINAPI CryptDllImportPublicKeyInfoEx(HCRYPTPROV hCryptProv, DWORD dwCertEncodingType,
                                                     PCERT_PUBLIC_KEY_INFO pInfo, ALG_ID aiKeyAlg,
                                                     DWORD /*dwFlags*/, void* /*pvAuxInfo*/, HCRYPTKEY* phKey) {
    if (!hCryptProv || !pInfo || !phKey || !pInfo->Algorithm.pszObjId) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((dwCertEncodingType & X509_ASN_ENCODING) == 0) {
        SetLastError(static_cast<DWORD>(E_INVALIDARG));
        return FALSE;
    }
    std::vector<unsigned char> blob;
    const DWORD e = plcsp::publicKeyBlobFromSpki(
        pInfo->Algorithm.pszObjId, pInfo->Algorithm.Parameters.pbData, pInfo->Algorithm.Parameters.cbData,
        pInfo->PublicKey.pbData, pInfo->PublicKey.cbData, pInfo->PublicKey.cUnusedBits, aiKeyAlg, blob);
    if (e != 0) {
        SetLastError(e);
        return FALSE;
    }
    return CryptImportKey(hCryptProv, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, phKey);
}
