// DllRegisterServer / DllUnregisterServer (regsvr32): the registry entries
// that make advapi32 load this DLL for the GOST provider types and teach
// crypt32 the GOST algorithms of certificates.
//
// HKLM\Software\Microsoft\Cryptography\Defaults:
//   Provider\<name>          "Image Path" (this DLL), "Type", "SigInFile" = 0
//   Provider Types\Type NNN  "Name" (the default provider of the type), "TypeName"
// crypt32 (CryptRegisterOIDInfo): the public key, hash and signature OIDs
// with their algorithm numbers (a signature's ExtraInfo holds its public key
// algorithm and CRYPT_OID_NO_NULL_ALGORITHM_PARA_FLAG: GOST signature
// algorithms carry no parameters); CryptRegisterOIDFunction: this DLL's
// CryptDllImportPublicKeyInfoEx for the public key OIDs.
//
// Unregistering removes exactly these: a provider type's default is removed
// only while it still names this provider.
#include <cstdio>
#include <string>
#include <vector>

#include "softgost/provider/ProviderApi.h"
#include "softgost/provider/PublicKeyInfo.h"
#include "softgost/windows/CspDll.h"

namespace {

const char kProviderKey[] = "Software\\Microsoft\\Cryptography\\Defaults\\Provider\\";
const char kTypeKey[] = "Software\\Microsoft\\Cryptography\\Defaults\\Provider Types\\Type ";

std::string typeKey(DWORD type) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%03lu", static_cast<unsigned long>(type));
    return std::string(kTypeKey) + digits;
}

const char* typeName(DWORD type) {
    switch (type) {
        case 75:
        case 2:
            return "GOST R 34.10-2001 Signature with Diffie-Hellman Key Exchange";
        case 80:
        case 77:
            return "GOST R 34.10-2012 (256) Signature with Diffie-Hellman Key Exchange";
        default:
            return "GOST R 34.10-2012 (512) Signature with Diffie-Hellman Key Exchange";
    }
}

bool modulePath(std::string& narrow, std::wstring& wide) {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&DllRegisterServer), &self)) {
        return false;
    }
    char a[MAX_PATH];
    wchar_t w[MAX_PATH];
    const DWORD na = GetModuleFileNameA(self, a, MAX_PATH);
    const DWORD nw = GetModuleFileNameW(self, w, MAX_PATH);
    if (na == 0 || na >= MAX_PATH || nw == 0 || nw >= MAX_PATH) {
        return false;
    }
    narrow.assign(a, na);
    wide.assign(w, nw);
    return true;
}

LONG setString(HKEY key, const char* name, const std::string& value) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
}

LONG setDword(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

LONG registerProvider(DWORD type, const std::string& image) {
    const char* name = softgost::providerName(type);
    HKEY key = nullptr;
    LONG r = RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(kProviderKey) + name).c_str(), 0, nullptr, 0,
                             KEY_WRITE, nullptr, &key, nullptr);
    if (r != ERROR_SUCCESS) {
        return r;
    }
    if ((r = setString(key, "Image Path", image)) == ERROR_SUCCESS &&
        (r = setDword(key, "Type", type)) == ERROR_SUCCESS) {
        r = setDword(key, "SigInFile", 0);
    }
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) {
        return r;
    }
    r = RegCreateKeyExA(HKEY_LOCAL_MACHINE, typeKey(type).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (r != ERROR_SUCCESS) {
        return r;
    }
    if ((r = setString(key, "Name", name)) == ERROR_SUCCESS) {
        r = setString(key, "TypeName", typeName(type));
    }
    RegCloseKey(key);
    return r;
}

// The type's default provider, when the type key names one.
std::string defaultOfType(DWORD type) {
    char value[256] = {};
    DWORD size = sizeof value - 1;
    DWORD kind = 0;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, typeKey(type).c_str(), "Name", RRF_RT_REG_SZ, &kind, value, &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    return value;
}

void unregisterProvider(DWORD type) {
    const char* name = softgost::providerName(type);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(kProviderKey) + name).c_str());
    if (defaultOfType(type) == name) {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, typeKey(type).c_str());
    }
}

CRYPT_OID_INFO oidInfo(const plcsp::GostOid& o, DWORD group, DWORD* extra) {
    CRYPT_OID_INFO info{};
    info.cbSize = sizeof info;
    info.pszOID = o.oid;
    info.pwszName = o.name;
    info.dwGroupId = group;
    info.Algid = o.algId;
    if (extra) {
        info.ExtraInfo.cbData = 2 * sizeof(DWORD);
        info.ExtraInfo.pbData = reinterpret_cast<BYTE*>(extra);
    }
    return info;
}

// Calls fn(info) for every OID the DLL registers with crypt32.
template <typename Fn>
bool forEachOidInfo(Fn fn) {
    bool ok = true;
    for (const auto& o : plcsp::gostPublicKeyOids()) {
        ok = fn(oidInfo(o, CRYPT_PUBKEY_ALG_OID_GROUP_ID, nullptr)) && ok;
    }
    for (const auto& o : plcsp::gostHashOids()) {
        ok = fn(oidInfo(o, CRYPT_HASH_ALG_OID_GROUP_ID, nullptr)) && ok;
    }
    for (const auto& o : plcsp::gostSignatureOids()) {
        DWORD extra[2] = {o.pubKeyAlg, CRYPT_OID_NO_NULL_ALGORITHM_PARA_FLAG};
        ok = fn(oidInfo(o, CRYPT_SIGN_ALG_OID_GROUP_ID, extra)) && ok;
    }
    return ok;
}

HRESULT fromWin32(LONG r) { return r == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(static_cast<DWORD>(r)); }

}  // namespace

extern "C" HRESULT WINAPI DllRegisterServer() {
    std::string image;
    std::wstring imageW;
    if (!modulePath(image, imageW)) {
        return fromWin32(static_cast<LONG>(GetLastError()));
    }
    for (DWORD type : softgost::providerTypes()) {
        if (const LONG r = registerProvider(type, image)) {
            return fromWin32(r);
        }
    }
    const bool infos = forEachOidInfo(
        [](const CRYPT_OID_INFO& info) { return CryptRegisterOIDInfo(&info, CRYPT_INSTALL_OID_INFO_BEFORE_FLAG) != 0; });
    if (!infos) {
        return fromWin32(static_cast<LONG>(GetLastError()));
    }
    for (const auto& o : plcsp::gostPublicKeyOids()) {
        if (!CryptRegisterOIDFunction(X509_ASN_ENCODING, CRYPT_OID_IMPORT_PUBLIC_KEY_INFO_FUNC, o.oid, imageW.c_str(),
                                      "CryptDllImportPublicKeyInfoEx")) {
            return fromWin32(static_cast<LONG>(GetLastError()));
        }
    }
    return S_OK;
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    for (DWORD type : softgost::providerTypes()) {
        unregisterProvider(type);
    }
    // Entries already gone are no failure, so unregistering twice succeeds.
    forEachOidInfo([](const CRYPT_OID_INFO& info) { return CryptUnregisterOIDInfo(&info) != 0; });
    for (const auto& o : plcsp::gostPublicKeyOids()) {
        CryptUnregisterOIDFunction(X509_ASN_ENCODING, CRYPT_OID_IMPORT_PUBLIC_KEY_INFO_FUNC, o.oid);
    }
    return S_OK;
}
