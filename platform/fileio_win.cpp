#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "platform/fileio.h"
#include "platform/win32.h"

namespace platform {

std::int64_t regularFileSize(std::FILE* f) {
    if (f == nullptr) return -1;
    struct _stat64 st {};
    if (_fstat64(_fileno(f), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

bool replaceFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

}  // namespace platform
