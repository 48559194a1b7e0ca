// Durable object files of the software token on Windows. The file is made
// with the folder's inherited permissions: the token folder lies in the
// user's own profile (%APPDATA%), which only the user may read.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <filesystem>
#include <string>

#include "tools/soft-token/SoftToken.h"

namespace softtoken {

bool writeFileReplacing(const std::string& temp, const std::string& target, const Bytes& data) {
    const std::wstring tempName = std::filesystem::path(temp).wstring();
    const std::wstring targetName = std::filesystem::path(target).wstring();
    // Not shared while it is written; a leftover under the name is replaced.
    HANDLE file = CreateFileW(tempName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        trace("cannot create %s (error %lu)", temp.c_str(), GetLastError());
        return false;
    }
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < data.size()) {
        const std::size_t rest = data.size() - done;
        const DWORD chunk = rest > 0x10000000u ? 0x10000000u : static_cast<DWORD>(rest);
        DWORD written = 0;
        ok = WriteFile(file, data.data() + done, chunk, &written, nullptr) && written != 0;
        done += written;
    }
    ok = ok && FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    ok = ok && MoveFileExW(tempName.c_str(), targetName.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        trace("cannot write %s (error %lu)", target.c_str(), GetLastError());
        DeleteFileW(tempName.c_str());
    }
    return ok;
}

}  // namespace softtoken
