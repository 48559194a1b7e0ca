#include <filesystem>
#include <system_error>

#include "platform/dirlist.h"
#include "platform/paths.h"

namespace platform {

bool listFileNames(const std::string& folder, std::vector<std::string>& names) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::directory_iterator it(nativePath(folder), error);
    if (error) return false;
    for (const fs::directory_iterator end; it != end; it.increment(error)) {
        if (error) return false;
        std::error_code typeError;
        if (it->is_directory(typeError)) continue;
        names.push_back(it->path().filename().string());
    }
    return !error;
}

}  // namespace platform
