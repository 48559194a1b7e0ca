#include "platform/dynlib.h"

#include <dlfcn.h>

namespace {

constexpr DWORD kModNotFound = 126;   // ERROR_MOD_NOT_FOUND
constexpr DWORD kProcNotFound = 127;  // ERROR_PROC_NOT_FOUND

void setLastError(DWORD code) { SetLastError(code); }

}  // namespace

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
    if (!lpLibFileName || !*lpLibFileName) {
        setLastError(kModNotFound);
        return nullptr;
    }
    // Symbols stay private to the library, as on Windows: two modules that
    // export the same C_ names never see each other's.
    void* handle = dlopen(lpLibFileName, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        setLastError(kModNotFound);
    }
    return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (!hModule || !lpProcName) {
        setLastError(kProcNotFound);
        return nullptr;
    }
    void* symbol = dlsym(hModule, lpProcName);
    if (!symbol) {
        setLastError(kProcNotFound);
        return nullptr;
    }
    FARPROC proc = nullptr;
    static_assert(sizeof proc == sizeof symbol);
    __builtin_memcpy(&proc, &symbol, sizeof proc);
    return proc;
}

BOOL FreeLibrary(HMODULE hLibModule) { return hLibModule && dlclose(hLibModule) == 0 ? TRUE : FALSE; }

namespace platform {

// The dynamic loader's search for a bare name is the system's own library
// path (it never looks in the current folder), so every name goes to it as
// given.
HMODULE loadModule(const std::string& name) { return LoadLibraryA(name.c_str()); }

void restrictLibrarySearch() {}

}  // namespace platform
