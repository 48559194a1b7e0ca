#include "crypto/CryptoP11_Cache.h"

#include <cstdlib>

#include "errors/eErrCodes.h"

#ifndef PELLAMO_PKCS11_RUTOKEN_MODULE
#define PELLAMO_PKCS11_RUTOKEN_MODULE "rtPKCS11ECP.dll"
#endif
#ifndef PELLAMO_PKCS11_JACARTA_MODULE
#define PELLAMO_PKCS11_JACARTA_MODULE "jcPKCS11-2.dll"
#endif

namespace qn::crypto {

std::shared_ptr<CryptoP11_Cache> p11LibCacheGlobal = std::make_shared<CryptoP11_Cache>();

namespace {
// The process-wide libraries stay loaded and initialised until the process is
// gone: at exit a module's own static objects may already be torn down (it was
// loaded after ours were built), and I/O threads may still be using a token,
// so finalising it then would crash. This reference is never given back.
const auto* const kKeepLibrariesLoaded = new std::shared_ptr<CryptoP11_Cache>(p11LibCacheGlobal);
}  // namespace

namespace {

std::string fromEnvironment(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value && *value ? std::string(value) : std::string(fallback);
}

}  // namespace

CryptoP11_Cache::~CryptoP11_Cache() {
    for (auto& [type, lib] : m_libs) {
        if (lib.functions) {
            lib.functions->C_Finalize(nullptr);
        }
        if (lib.module) {
            FreeLibrary(lib.module);
        }
    }
}

std::string CryptoP11_Cache::moduleName(eDeviceP11Type type) {
    switch (type) {
        case P11_DEVICE_RUTOKEN:
            return fromEnvironment("PELLAMO_PKCS11_RUTOKEN", PELLAMO_PKCS11_RUTOKEN_MODULE);
        case P11_DEVICE_JACARTA:
            return fromEnvironment("PELLAMO_PKCS11_JACARTA", PELLAMO_PKCS11_JACARTA_MODULE);
        default:
            return {};
    }
}

unsigned CryptoP11_Cache::get(eDeviceP11Type type, HMODULE& module, CK_FUNCTION_LIST_PTR& functions) {
    // The lock covers the load too: loads are rare, and a module must see
    // exactly one C_Initialize.
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_libs.find(type);
    if (it == m_libs.end()) {
        P11LibInfo info;
        if (const unsigned r = loadPkcs11Lib(type, info)) {
            return r;
        }
        it = m_libs.emplace(type, info).first;
    }
    module = it->second.module;
    functions = it->second.functions;
    return ERR_OK;
}

unsigned CryptoP11_Cache::loadPkcs11Lib(eDeviceP11Type type, P11LibInfo& out) {
    const std::string name = moduleName(type);
    if (name.empty()) {
        return ERR_CRYPTO_LIBRARY_NOT_FOUND;
    }
    HMODULE module = platform::loadModule(name);
    if (!module) {
        return ERR_CRYPTO_LIBRARY_NOT_FOUND;
    }
    auto getList = platform::procAs<CK_C_GetFunctionList>(GetProcAddress(module, "C_GetFunctionList"));
    CK_FUNCTION_LIST_PTR functions = nullptr;
    if (!getList || getList(&functions) != CKR_OK || !functions) {
        FreeLibrary(module);
        return ERR_CRYPTO_LIBRARY_NOT_FOUND;
    }
    // The program calls the library from several threads: the library is
    // told so and may use the system's locks.
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    const CK_RV rv = functions->C_Initialize(&args);
    // A module that serves both device types is initialised once for both.
    if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        FreeLibrary(module);
        return ERR_CSP_NOT_INITIALIZED;
    }
    out.module = module;
    out.functions = functions;
    return ERR_OK;
}

}  // namespace qn::crypto
