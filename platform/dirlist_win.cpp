#include "platform/dirlist.h"

#include "platform/win32.h"

namespace platform {

// The ANSI calls give the names in the code page of every other narrow path
// of the program (std::filesystem would convert them through the C locale).
bool listFileNames(const std::string& folder, std::vector<std::string>& names) {
    std::string pattern = folder;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAA entry{};
    HANDLE find = FindFirstFileA(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        names.push_back(entry.cFileName);
    } while (FindNextFileA(find, &entry));
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    return complete;
}

}  // namespace platform
