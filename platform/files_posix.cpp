// File and folder calls on POSIX systems with Windows semantics: errors are
// reported through GetLastError() with Windows codes, and "\\" is accepted
// as a folder separator alongside "/".
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/paths.h"
#include "platform/win32.h"

namespace {

thread_local DWORD tlsLastError = ERROR_SUCCESS;

DWORD fromErrno(int e) {
    switch (e) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENAMETOOLONG:
    case EINVAL: return ERROR_INVALID_PARAMETER;
    default: return ERROR_ACCESS_DENIED;
    }
}

BOOL fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

BOOL failErrno() { return fail(fromErrno(errno)); }

bool validPath(LPCSTR p) { return p != nullptr && *p != '\0'; }

// Copies an open regular file to `dst`; keeps the permission bits and the
// modification time as CopyFile does.
BOOL copyOpenFile(int in, const struct stat& st, const std::string& dst, bool failIfExists) {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC);
    const int out = open(dst.c_str(), flags, st.st_mode & 07777);
    if (out < 0) {
        return fail(errno == EEXIST ? static_cast<DWORD>(ERROR_FILE_EXISTS) : fromErrno(errno));
    }
    char buf[64 * 1024];
    for (;;) {
        const ssize_t got = read(in, buf, sizeof buf);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            const int e = errno;
            close(out);
            return fail(fromErrno(e));
        }
        ssize_t done = 0;
        while (done < got) {
            const ssize_t put = write(out, buf + done, static_cast<size_t>(got - done));
            if (put < 0) {
                if (errno == EINTR) continue;
                const int e = errno;
                close(out);
                return fail(fromErrno(e));
            }
            done += put;
        }
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(out, times);
    if (close(out) != 0) return failErrno();
    return TRUE;
}

BOOL copyFile(const std::string& src, const std::string& dst, bool failIfExists) {
    const int in = open(src.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return failErrno();
    struct stat st {};
    if (fstat(in, &st) != 0) {
        const int e = errno;
        close(in);
        return fail(fromErrno(e));
    }
    if (!S_ISREG(st.st_mode)) {
        close(in);
        return fail(ERROR_ACCESS_DENIED);
    }
    const BOOL ok = copyOpenFile(in, st, dst, failIfExists);
    close(in);
    return ok;
}

}  // namespace

DWORD GetLastError() { return tlsLastError; }

void SetLastError(DWORD code) { tlsLastError = code; }

DWORD GetCurrentDirectoryA(DWORD bufferLength, LPSTR buffer) {
    std::string cwd(256, '\0');
    while (getcwd(cwd.data(), cwd.size()) == nullptr) {
        if (errno != ERANGE) {
            SetLastError(fromErrno(errno));
            return 0;
        }
        cwd.resize(cwd.size() * 2);
    }
    cwd.resize(std::strlen(cwd.c_str()));
    const auto len = static_cast<DWORD>(cwd.size());
    // Too small a buffer: the size needed, including the terminator.
    if (buffer == nullptr || bufferLength <= len) return len + 1;
    std::memcpy(buffer, cwd.c_str(), cwd.size() + 1);
    return len;
}

BOOL CreateDirectoryA(LPCSTR path, void* /*securityAttributes*/) {
    if (!validPath(path)) return fail(ERROR_PATH_NOT_FOUND);
    if (mkdir(platform::nativePath(path).c_str(), 0777) != 0) {
        return fail(errno == ENOENT ? static_cast<DWORD>(ERROR_PATH_NOT_FOUND) : fromErrno(errno));
    }
    return TRUE;
}

DWORD GetFileAttributesA(LPCSTR path) {
    struct stat st {};
    if (!validPath(path)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (stat(platform::nativePath(path).c_str(), &st) != 0) {
        SetLastError(fromErrno(errno));
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attributes = 0;
    if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if ((st.st_mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes == 0 ? static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL) : attributes;
}

BOOL DeleteFileA(LPCSTR path) {
    if (!validPath(path)) return fail(ERROR_FILE_NOT_FOUND);
    const std::string p = platform::nativePath(path);
    struct stat st {};
    if (lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return fail(ERROR_ACCESS_DENIED);
    if (unlink(p.c_str()) != 0) return failErrno();
    return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR path) {
    if (!validPath(path)) return fail(ERROR_PATH_NOT_FOUND);
    if (rmdir(platform::nativePath(path).c_str()) != 0) {
        return fail(errno == ENOTDIR ? static_cast<DWORD>(ERROR_DIRECTORY) : fromErrno(errno));
    }
    return TRUE;
}

BOOL MoveFileA(LPCSTR existing, LPCSTR target) {
    if (!validPath(existing) || !validPath(target)) return fail(ERROR_PATH_NOT_FOUND);
    const std::string from = platform::nativePath(existing);
    const std::string to = platform::nativePath(target);
    struct stat st {};
    if (lstat(from.c_str(), &st) != 0) return failErrno();
    // Unlike rename(), MoveFile never replaces an existing target.
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return TRUE;
    if (errno == EINVAL || errno == ENOSYS) {
        // The file system cannot rename without replacing: check first.
        struct stat existingTarget {};
        if (lstat(to.c_str(), &existingTarget) == 0) return fail(ERROR_ALREADY_EXISTS);
        if (rename(from.c_str(), to.c_str()) == 0) return TRUE;
    }
    if (errno == EXDEV && S_ISREG(st.st_mode)) {
        // Across devices a file is copied and the original removed.
        if (!copyFile(from, to, true)) return FALSE;
        if (unlink(from.c_str()) != 0) return failErrno();
        return TRUE;
    }
    return failErrno();
}

BOOL CopyFileA(LPCSTR existing, LPCSTR target, BOOL failIfExists) {
    if (!validPath(existing) || !validPath(target)) return fail(ERROR_PATH_NOT_FOUND);
    return copyFile(platform::nativePath(existing), platform::nativePath(target), failIfExists != FALSE);
}

DWORD GetModuleFileNameA(HINSTANCE module, LPSTR fileName, DWORD size) {
    if (module != nullptr) {
        // Only the running program can be named here.
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    std::string path(256, '\0');
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
        if (n < 0) {
            SetLastError(fromErrno(errno));
            return 0;
        }
        if (static_cast<std::size_t>(n) < path.size()) {
            path.resize(static_cast<std::size_t>(n));
            break;
        }
        path.resize(path.size() * 2);
    }
    if (fileName == nullptr || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() >= size) {
        // Truncated and terminated; the return value is the buffer size.
        std::memcpy(fileName, path.data(), size - 1);
        fileName[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(fileName, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}
