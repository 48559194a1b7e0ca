// The PKCS#11 libraries of the process, one per device type: loaded and
// initialised on first use, shared by every token provider, finalised and
// unloaded when the cache goes (at process exit).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "crypto/P11LibInfo.h"
#include "crypto/eDeviceP11Type.h"

namespace qn::crypto {

class CryptoP11_Cache {
public:
    CryptoP11_Cache() = default;
    CryptoP11_Cache(const CryptoP11_Cache&) = delete;
    CryptoP11_Cache& operator=(const CryptoP11_Cache&) = delete;
    ~CryptoP11_Cache();

    // The library of the device type, loaded on the first call: 0, 4 (no
    // such library, or no function list) or 3 (C_Initialize failed). Only a
    // successful load is kept. Two threads never load one library twice.
    unsigned get(eDeviceP11Type type, HMODULE& module, CK_FUNCTION_LIST_PTR& functions);

    // Loads and initialises the library of the type (no caching).
    static unsigned loadPkcs11Lib(eDeviceP11Type type, P11LibInfo& out);

    // The module loaded for the type: PELLAMO_PKCS11_RUTOKEN or
    // PELLAMO_PKCS11_JACARTA when set and not empty, else the deployment
    // default; empty for other types.
    static std::string moduleName(eDeviceP11Type type);

private:
    std::mutex m_mutex;
    std::map<eDeviceP11Type, P11LibInfo> m_libs;
};

// The cache of the process, created empty during static initialisation.
extern std::shared_ptr<CryptoP11_Cache> p11LibCacheGlobal;

}  // namespace qn::crypto
