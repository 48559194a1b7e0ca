// Provider contexts of the software GOST provider: CryptAcquireContextA,
// CryptReleaseContext, CryptGetProvParam, CryptGetUserKey.
#include <cstring>
#include <vector>

#include "softgost/provider/CspObjects.h"
#include "softgost/provider/KeyContainerStore.h"

using namespace plcsp;

namespace {

// Version 1.0: minor in the first byte, major in the second.
constexpr DWORD kProviderVersion = 0x00000100;

// One name per provider type: CryptoAPI registers a provider with one type
// and refuses it for another. The names say that this is a development and
// test provider.
struct TypeName {
    DWORD type;
    const char* name;
};
const TypeName kProviderNames[] = {
    {75, "Pellamo Development GOST R 34.10-2001 CSP"},
    {80, "Pellamo Development GOST R 34.10-2012 (256) CSP"},
    {81, "Pellamo Development GOST R 34.10-2012 (512) CSP"},
    {2, "Pellamo Development GOST R 34.10-2001 CSP (type 2)"},
    {77, "Pellamo Development GOST R 34.10-2012 (256) CSP (type 77)"},
    {78, "Pellamo Development GOST R 34.10-2012 (512) CSP (type 78)"},
};

BOOL putText(const std::string& s, BYTE* out, DWORD* len) {
    return putOutput(s.c_str(), static_cast<DWORD>(s.size() + 1), out, len);
}

BOOL putDword(DWORD v, BYTE* out, DWORD* len) { return putOutput(&v, sizeof v, out, len); }

BOOL enumContainers(Provider& prov, BYTE* out, DWORD* len, DWORD flags) {
    if (flags & CRYPT_FIRST) {
        prov.enumNames = containers::list();
        prov.enumPos = 0;
        prov.enumFqcn = (flags & CRYPT_FQCN) != 0;
    }
    if (prov.enumPos >= prov.enumNames.size()) {
        return fail(ERROR_NO_MORE_ITEMS);
    }
    const std::string& name = prov.enumNames[prov.enumPos];
    const std::string text = (prov.enumFqcn || (flags & CRYPT_FQCN)) ? fullyQualifiedName(name) : name;
    if (!putText(text, out, len)) {
        return FALSE;
    }
    if (out) {
        ++prov.enumPos;  // a size query does not advance
    }
    return TRUE;
}

}  // namespace

const char* softgost::providerName(DWORD provType) {
    for (const auto& t : kProviderNames) {
        if (t.type == provType) {
            return t.name;
        }
    }
    return nullptr;
}

std::vector<DWORD> softgost::providerTypes() {
    std::vector<DWORD> types;
    for (const auto& t : kProviderNames) {
        types.push_back(t.type);
    }
    return types;
}

BOOL softgost::acquireContext(HCRYPTPROV* phProv, LPCSTR szContainer,
                          DWORD dwProvType, DWORD dwFlags) {
    if (!phProv) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const KeyClassInfo* cls = classOfProvType(dwProvType);
    if (!cls) {
        return fail(NTE_PROV_TYPE_NOT_DEF);
    }
    const DWORD allowed = CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET |
                          CRYPT_MACHINE_KEYSET | CRYPT_SILENT;
    const DWORD action = dwFlags & (CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET);
    if ((dwFlags & ~allowed) ||
        (action != 0 && action != CRYPT_VERIFYCONTEXT && action != CRYPT_NEWKEYSET &&
         action != CRYPT_DELETEKEYSET)) {
        return fail(NTE_BAD_FLAGS);
    }
    ensureGcrypt();
    auto prov = std::make_shared<Provider>();
    prov->type = dwProvType;
    prov->cls = cls;
    if (action == CRYPT_VERIFYCONTEXT) {
        prov->verifyContext = true;
        *phProv = registry().addProvider(std::move(prov));
        return TRUE;
    }
    std::string name;
    if (!shortContainerName(szContainer, name)) {
        return fail(NTE_BAD_KEYSET_PARAM);
    }
    if (action == CRYPT_DELETEKEYSET) {
        *phProv = 0;
        const DWORD e = containers::remove(name);
        return e ? fail(e) : TRUE;
    }
    if (action == CRYPT_NEWKEYSET) {
        if (const DWORD e = containers::create(name)) {
            return fail(e);
        }
    } else {
        if (!containers::exists(name)) {
            return fail(NTE_BAD_KEYSET);
        }
        const DWORD e = loadKeyPair(name, prov->userKey);
        if (e != 0 && e != static_cast<DWORD>(NTE_NO_KEY)) {
            return fail(e);
        }
    }
    prov->container = name;
    *phProv = registry().addProvider(std::move(prov));
    return TRUE;
}

BOOL softgost::releaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
    if (dwFlags != 0) {
        return fail(NTE_BAD_FLAGS);
    }
    return registry().removeProvider(hProv) ? TRUE : fail(NTE_BAD_UID);
}

BOOL softgost::getProvParam(HCRYPTPROV hProv, DWORD dwParam, BYTE* pbData, DWORD* pdwDataLen,
                       DWORD dwFlags) {
    auto prov = registry().provider(hProv);
    if (!prov) {
        return fail(NTE_BAD_UID);
    }
    if (!pdwDataLen) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::lock_guard<std::mutex> lock(prov->mutex);
    switch (dwParam) {
        case PP_VERSION:
            return putDword(kProviderVersion, pbData, pdwDataLen);
        case PP_PROVTYPE:
            return putDword(prov->type, pbData, pdwDataLen);
        case PP_NAME:
            return putText(providerName(prov->type), pbData, pdwDataLen);
        case PP_CONTAINER:
            if (prov->verifyContext) {
                return fail(NTE_BAD_KEYSET);
            }
            return putText(prov->container, pbData, pdwDataLen);
        case PP_UNIQUE_CONTAINER:
            if (prov->verifyContext) {
                return fail(NTE_BAD_KEYSET);
            }
            return putText(fullyQualifiedName(prov->container), pbData, pdwDataLen);
        case PP_ENUMCONTAINERS:
            return enumContainers(*prov, pbData, pdwDataLen, dwFlags);
        default:
            return fail(NTE_BAD_TYPE);
    }
}

BOOL softgost::getUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY* phUserKey) {
    auto prov = registry().provider(hProv);
    if (!prov) {
        return fail(NTE_BAD_UID);
    }
    if (!phUserKey) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    std::shared_ptr<KeyPair> pair;
    {
        std::lock_guard<std::mutex> lock(prov->mutex);
        pair = prov->userKey;
    }
    if (dwKeySpec != AT_KEYEXCHANGE || !pair) {
        return fail(NTE_NO_KEY);
    }
    auto key = std::make_shared<KeyObject>();
    key->kind = KeyKind::Pair;
    key->owner = hProv;
    key->pair = std::move(pair);
    *phUserKey = registry().addKey(std::move(key));
    return TRUE;
}

BOOL softgost::setProvParam(HCRYPTPROV hProv, DWORD /*dwParam*/, const BYTE* /*pbData*/, DWORD /*dwFlags*/) {
    if (!registry().provider(hProv)) {
        return fail(NTE_BAD_UID);
    }
    // No provider parameter can be changed (a PIN, a window handle): the
    // software provider asks nobody for anything.
    return fail(NTE_BAD_TYPE);
}

BOOL softgost::genRandom(HCRYPTPROV hProv, DWORD dwLen, BYTE* pbBuffer) {
    if (!registry().provider(hProv)) {
        return fail(NTE_BAD_UID);
    }
    if (!pbBuffer && dwLen != 0) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (dwLen) {
        gcry_randomize(pbBuffer, dwLen, GCRY_STRONG_RANDOM);
    }
    return TRUE;
}
