#include "softgost/provider/ContainerFiles.h"

#include "platform/win32.h"

#include <shlobj.h>

#include <cstdlib>

namespace plcsp::files {

std::string defaultRoot() {
    char appData[MAX_PATH] = {};
    if (SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData) == S_OK && appData[0]) {
        return std::string(appData) + "\\Pellamo\\csp";
    }
    if (const char* env = std::getenv("APPDATA"); env && *env) {
        return std::string(env) + "\\Pellamo\\csp";
    }
    return "C:\\Pellamo\\csp";
}

std::string join(const std::string& dir, const std::string& name) { return dir + "\\" + name; }

bool isDir(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool makeDirs(const std::string& path) {
    // Every prefix ending before a separator, then the whole path; a drive
    // ("Z:") or an existing folder simply fails to be created again.
    for (std::size_t i = 1; i < path.size(); ++i) {
        if ((path[i] == '\\' || path[i] == '/') && path[i - 1] != ':' && path[i - 1] != '\\') {
            CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
        }
    }
    CreateDirectoryA(path.c_str(), nullptr);
    return isDir(path);
}

MakeDir makeDir(const std::string& path) {
    if (CreateDirectoryA(path.c_str(), nullptr)) {
        return MakeDir::Made;
    }
    return GetLastError() == ERROR_ALREADY_EXISTS ? MakeDir::Exists : MakeDir::Failed;
}

bool listDir(const std::string& path, std::vector<std::string>& names) {
    WIN32_FIND_DATAA fd{};
    HANDLE h = FindFirstFileA(join(path, "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_FILE_NOT_FOUND && isDir(path);
    }
    do {
        const std::string name = fd.cFileName;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return true;
}

bool removeDirWithFiles(const std::string& path) {
    std::vector<std::string> names;
    if (!listDir(path, names)) {
        return false;
    }
    for (const auto& f : names) {
        DeleteFileA(join(path, f).c_str());
    }
    return RemoveDirectoryA(path.c_str()) != 0;
}

bool writeFileAtomic(const std::string& dir, const char* name, const unsigned char* data, std::size_t n) {
    const std::string tmp = dir + "\\." + name + ".tmp";
    const std::string dst = join(dir, name);
    HANDLE h = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < n) {
        const DWORD chunk = static_cast<DWORD>(n - done > (1u << 30) ? (1u << 30) : n - done);
        DWORD written = 0;
        ok = WriteFile(h, data + done, chunk, &written, nullptr) && written > 0;
        done += written;
    }
    ok = ok && FlushFileBuffers(h);
    ok = CloseHandle(h) && ok;
    // MOVEFILE_WRITE_THROUGH returns once the rename is on the disk.
    if (!ok || !MoveFileExA(tmp.c_str(), dst.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(tmp.c_str());
        return false;
    }
    return true;
}

bool readFile(const std::string& path, std::size_t maxBytes, SecureBytes& out) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size) || size.QuadPart < 0 ||
        static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
        CloseHandle(h);
        return false;
    }
    SecureBytes buf(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < buf.size()) {
        DWORD got = 0;
        if (!ReadFile(h, buf.data() + done, static_cast<DWORD>(buf.size() - done), &got, nullptr) || got == 0) {
            CloseHandle(h);
            return false;
        }
        done += got;
    }
    CloseHandle(h);
    out = std::move(buf);
    return true;
}

}  // namespace plcsp::files
