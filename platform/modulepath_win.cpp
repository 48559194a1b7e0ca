#include "platform/dynlib.h"

namespace platform {

std::string moduleFileOf(const void* address) {
    HMODULE module = nullptr;
    if (!address ||
        !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &module)) {
        return {};
    }
    char path[MAX_PATH * 2];
    const DWORD n = GetModuleFileNameA(module, path, sizeof path);
    return n == 0 || n >= sizeof path ? std::string() : std::string(path, n);
}

}  // namespace platform
