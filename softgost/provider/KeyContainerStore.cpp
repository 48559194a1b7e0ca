#include "softgost/provider/KeyContainerStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/wincrypt.h"

namespace plcsp {

const char* const kFqcnPrefix = "\\\\.\\FILES\\";

namespace {

constexpr std::size_t kMaxNameBytes = 85;  // 3 × 85 fits a file name
constexpr unsigned kKeyVersion = 1;
const char kKeyFile[] = "key";
const char kCertFile[] = "certificate.der";

std::mutex& storeMutex() {
    static std::mutex m;
    return m;
}

bool makeDirs(const std::string& path) {
    std::string cur;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t next = path.find('/', pos);
        if (next == std::string::npos) {
            next = path.size();
        }
        cur = path.substr(0, next);
        if (!cur.empty() && ::mkdir(cur.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        pos = next + 1;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string encodeName(const std::string& name) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : name) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
            c == '-') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

bool decodeName(const std::string& enc, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < enc.size(); ++i) {
        if (enc[i] != '%') {
            out.push_back(enc[i]);
            continue;
        }
        if (i + 2 >= enc.size()) {
            return false;
        }
        auto val = [](char c) -> int {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            return -1;
        };
        int hi = val(enc[i + 1]), lo = val(enc[i + 2]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return !out.empty();
}

std::string containersDir() { return containers::rootDir() + "/containers"; }

std::string folderOf(const std::string& name) { return containersDir() + "/" + encodeName(name); }

bool isDir(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Writes the file atomically: temporary file, fsync, rename, fsync folder.
DWORD writeFileAtomic(const std::string& dir, const char* file, const unsigned char* data,
                      std::size_t n) {
    const std::string tmp = dir + "/." + file + ".tmp";
    const std::string dst = dir + "/" + file;
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return NTE_FAIL;
    }
    std::size_t done = 0;
    while (done < n) {
        ssize_t w = ::write(fd, data + done, n - done);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            ::close(fd);
            ::unlink(tmp.c_str());
            return NTE_FAIL;
        }
        done += static_cast<std::size_t>(w);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(tmp.c_str(), dst.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return NTE_FAIL;
    }
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return 0;
}

// Reads a whole (small) file; into secure memory when it holds a secret.
bool readFile(const std::string& path, SecureBytes& out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < 0 || st.st_size > (1 << 20)) {
        ::close(fd);
        return false;
    }
    SecureBytes buf(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < buf.size()) {
        ssize_t r = ::read(fd, buf.data() + done, buf.size() - done);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            ::close(fd);
            return false;
        }
        done += static_cast<std::size_t>(r);
    }
    ::close(fd);
    out = std::move(buf);
    return true;
}

// Bounded little-endian reader of the key file.
struct Reader {
    const unsigned char* p;
    std::size_t n;
    std::size_t off = 0;
    bool bad = false;

    unsigned u32() {
        if (bad || n - off < 4) {
            bad = true;
            return 0;
        }
        unsigned v = p[off] | (p[off + 1] << 8) | (p[off + 2] << 16) |
                     (static_cast<unsigned>(p[off + 3]) << 24);
        off += 4;
        return v;
    }
    const unsigned char* bytes(std::size_t& len) {
        len = u32();
        if (bad || n - off < len) {
            bad = true;
            len = 0;
            return nullptr;
        }
        const unsigned char* r = p + off;
        off += len;
        return r;
    }
    std::string text() {
        std::size_t len = 0;
        const unsigned char* b = bytes(len);
        return b ? std::string(reinterpret_cast<const char*>(b), len) : std::string();
    }
};

void putU32(unsigned char*& p, unsigned v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
    p += 4;
}

void putBytes(unsigned char*& p, const unsigned char* b, std::size_t n) {
    putU32(p, static_cast<unsigned>(n));
    if (n) {
        std::memcpy(p, b, n);
    }
    p += n;
}

}  // namespace

bool shortContainerName(const char* given, std::string& shortName) {
    if (!given) {
        return false;
    }
    std::string name(given);
    if (name.rfind("\\\\.\\", 0) == 0) {
        const std::size_t prefixLen = std::strlen(kFqcnPrefix);
        if (name.size() < prefixLen || name.compare(0, prefixLen, kFqcnPrefix) != 0) {
            return false;  // another reader
        }
        name = name.substr(prefixLen);
    }
    if (name.empty() || name.size() > kMaxNameBytes) {
        return false;
    }
    shortName = name;
    return true;
}

std::string fullyQualifiedName(const std::string& shortName) { return kFqcnPrefix + shortName; }

namespace containers {

std::string rootDir() {
    if (const char* env = std::getenv("PELLAMO_CSP_DIR"); env && *env) {
        return env;
    }
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
        return std::string(xdg) + "/pellamo/csp";
    }
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/pellamo/csp";
}

DWORD create(const std::string& name) {
    std::lock_guard<std::mutex> lock(storeMutex());
    if (!makeDirs(containersDir())) {
        return NTE_FAIL;
    }
    const std::string dir = folderOf(name);
    if (::mkdir(dir.c_str(), 0700) != 0) {
        return errno == EEXIST ? NTE_EXISTS : NTE_FAIL;
    }
    return 0;
}

bool exists(const std::string& name) {
    std::lock_guard<std::mutex> lock(storeMutex());
    return isDir(folderOf(name));
}

DWORD remove(const std::string& name) {
    std::lock_guard<std::mutex> lock(storeMutex());
    const std::string dir = folderOf(name);
    DIR* d = ::opendir(dir.c_str());
    if (!d) {
        return NTE_BAD_KEYSET;
    }
    std::vector<std::string> files;
    while (dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            files.emplace_back(e->d_name);
        }
    }
    ::closedir(d);
    for (const auto& f : files) {
        ::unlink((dir + "/" + f).c_str());
    }
    return ::rmdir(dir.c_str()) == 0 ? 0 : NTE_FAIL;
}

std::vector<std::string> list() {
    std::lock_guard<std::mutex> lock(storeMutex());
    std::vector<std::string> names;
    const std::string base = containersDir();
    DIR* d = ::opendir(base.c_str());
    if (!d) {
        return names;
    }
    while (dirent* e = ::readdir(d)) {
        std::string name;
        if (e->d_name[0] != '.' && decodeName(e->d_name, name) && isDir(base + "/" + e->d_name)) {
            names.push_back(name);
        }
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

DWORD writeKey(const std::string& name, const StoredKey& key) {
    const std::size_t size = 4 * 4 + 4 + key.curveOid.size() + 4 + key.hashOid.size() + 4 +
                             key.pub.size() + 4 + key.d.size();
    SecureBytes buf(size);
    unsigned char* p = buf.data();
    std::memcpy(p, "PLK1", 4);
    p += 4;
    putU32(p, kKeyVersion);
    putU32(p, key.provType);
    putU32(p, key.pubKeyAlg);
    putBytes(p, reinterpret_cast<const unsigned char*>(key.curveOid.data()), key.curveOid.size());
    putBytes(p, reinterpret_cast<const unsigned char*>(key.hashOid.data()), key.hashOid.size());
    putBytes(p, key.pub.data(), key.pub.size());
    putBytes(p, key.d.data(), key.d.size());
    std::lock_guard<std::mutex> lock(storeMutex());
    const std::string dir = folderOf(name);
    if (!isDir(dir)) {
        return NTE_BAD_KEYSET;
    }
    return writeFileAtomic(dir, kKeyFile, buf.data(), buf.size());
}

DWORD readKey(const std::string& name, bool withPrivate, StoredKey& key) {
    SecureBytes buf;
    {
        std::lock_guard<std::mutex> lock(storeMutex());
        const std::string dir = folderOf(name);
        if (!isDir(dir)) {
            return NTE_BAD_KEYSET;
        }
        if (!readFile(dir + "/" + kKeyFile, buf)) {
            return NTE_NO_KEY;
        }
    }
    Reader r{buf.data(), buf.size()};
    if (buf.size() < 4 || std::memcmp(buf.data(), "PLK1", 4) != 0) {
        return NTE_KEYSET_ENTRY_BAD;
    }
    r.off = 4;
    if (r.u32() != kKeyVersion) {
        return NTE_KEYSET_ENTRY_BAD;
    }
    key.provType = r.u32();
    key.pubKeyAlg = r.u32();
    key.curveOid = r.text();
    key.hashOid = r.text();
    std::size_t n = 0;
    const unsigned char* pub = r.bytes(n);
    key.pub.assign(pub, pub + n);
    const unsigned char* d = r.bytes(n);
    if (r.bad || r.off != buf.size() || !d) {
        return NTE_KEYSET_ENTRY_BAD;
    }
    if (withPrivate) {
        SecureBytes priv(n);
        std::memcpy(priv.data(), d, n);
        key.d = std::move(priv);
    }
    return 0;
}

DWORD writeCertificate(const std::string& name, const unsigned char* der, std::size_t n) {
    std::lock_guard<std::mutex> lock(storeMutex());
    const std::string dir = folderOf(name);
    if (!isDir(dir)) {
        return NTE_BAD_KEYSET;
    }
    return writeFileAtomic(dir, kCertFile, der, n);
}

DWORD readCertificate(const std::string& name, std::vector<unsigned char>& der) {
    SecureBytes buf;
    std::lock_guard<std::mutex> lock(storeMutex());
    if (!readFile(folderOf(name) + "/" + kCertFile, buf)) {
        return NTE_NOT_FOUND;
    }
    der.assign(buf.data(), buf.data() + buf.size());
    return 0;
}

}  // namespace containers

}  // namespace plcsp
