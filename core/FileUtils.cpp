#include "core/FileUtils.h"

#include <cstdio>
#include <limits>
#include <memory>

#include "platform/fileio.h"
#include "platform/paths.h"
#include "platform/win32.h"

namespace tesel {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};

int writeBytes(const unsigned char* data, std::uint32_t size, const std::string& path) {
    if (size > 0 && data == nullptr) return 0;
    std::FILE* f = std::fopen(platform::nativePath(path).c_str(), "wb");
    if (f == nullptr) return 0;
    const bool written = size == 0 || std::fwrite(data, 1, size, f) == size;
    // Data still buffered can fail to reach the disk only at close.
    const bool closed = std::fclose(f) == 0;
    return written && closed ? 1 : 0;
}

}  // namespace

int createFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CreateDirectoryA(path.c_str(), nullptr);
    }
    return 0;
}

bool isFileExist(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

int saveBlob(const BLOB* blob, const std::string& path) {
    if (blob == nullptr) return 0;
    return writeBytes(blob->pbData, blob->cbData, path);
}

int saveBlob(const CBlob* blob, const std::string& path) {
    if (blob == nullptr) return 0;
    return writeBytes(blob->getData(), blob->getSize(), path);
}

int loadBlob(const std::string& path, CBlob* target) {
    constexpr int kCannotOpen = 2;
    if (target == nullptr) return kCannotOpen;
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(platform::nativePath(path).c_str(), "rb"));
    if (!f) return kCannotOpen;
    // Only a regular file has a size to trust; a folder or a device would
    // otherwise open and read as something else.
    const std::int64_t size = platform::regularFileSize(f.get());
    if (size < 0 || size > static_cast<std::int64_t>(std::numeric_limits<std::uint32_t>::max())) {
        return kCannotOpen;
    }
    const auto n = static_cast<unsigned>(size);
    CBlob content(n);
    if (n > 0 && std::fread(content.getData(), 1, n, f.get()) != n) return kCannotOpen;
    *target = std::move(content);
    return 0;
}

}  // namespace tesel
