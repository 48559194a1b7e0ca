#include <sys/stat.h>

#include <cstdio>

#include "platform/fileio.h"
#include "platform/paths.h"

namespace platform {

std::int64_t regularFileSize(std::FILE* f) {
    if (f == nullptr) return -1;
    struct stat st {};
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

bool replaceFile(const std::string& from, const std::string& to) {
    return std::rename(nativePath(from).c_str(), nativePath(to).c_str()) == 0;
}

}  // namespace platform
