#include <sys/stat.h>

#include "platform/fileio.h"

namespace platform {

std::int64_t regularFileSize(std::FILE* f) {
    if (f == nullptr) return -1;
    struct stat st {};
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

}  // namespace platform
