#include <dlfcn.h>

#include "platform/dynlib.h"

namespace platform {

std::string moduleFileOf(const void* address) {
    Dl_info info{};
    if (!address || dladdr(address, &info) == 0 || !info.dli_fname) {
        return {};
    }
    return info.dli_fname;
}

}  // namespace platform
