#include "platform/dynlib.h"

#ifndef LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#endif
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace platform {

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

// Systems without the LOAD_LIBRARY_SEARCH_* flags (Windows 7 without
// KB2533623) refuse them as an invalid parameter.
bool searchFlagsRefused(HMODULE module) { return !module && GetLastError() == ERROR_INVALID_PARAMETER; }

}  // namespace

void restrictLibrarySearch() {
    // Looked up rather than linked: older systems lack the call.
    if (HMODULE kernel = GetModuleHandleA("kernel32.dll")) {
        if (auto setDefault = procAs<SetDefaultDllDirectoriesFn>(GetProcAddress(kernel, "SetDefaultDllDirectories"))) {
            setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
        }
    }
    // An empty string takes the current folder out of the search order.
    SetDllDirectoryA("");
}

HMODULE loadModule(const std::string& name) {
    switch (classifyModuleName(name)) {
        case ModuleName::Bare: {
            HMODULE module = LoadLibraryExA(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
            if (!searchFlagsRefused(module)) {
                return module;
            }
            // The same file by its full path in the system folder.
            char folder[MAX_PATH];
            const UINT n = GetSystemDirectoryA(folder, sizeof folder);
            if (n == 0 || n >= sizeof folder) {
                return nullptr;
            }
            return LoadLibraryExA((std::string(folder, n) + "\\" + name).c_str(), nullptr,
                                  LOAD_WITH_ALTERED_SEARCH_PATH);
        }
        case ModuleName::FullPath: {
            HMODULE module = LoadLibraryExA(name.c_str(), nullptr,
                                            LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
            if (!searchFlagsRefused(module)) {
                return module;
            }
            return LoadLibraryExA(name.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
        case ModuleName::OtherPath:
            break;
    }
    if (name.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return LoadLibraryA(name.c_str());
}

}  // namespace platform
