#include "softgost/provider/KeyContainerStore.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/wincrypt.h"
#include "softgost/provider/ContainerFiles.h"

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

std::string containersDir() { return files::join(containers::rootDir(), "containers"); }

std::string folderOf(const std::string& name) { return files::join(containersDir(), encodeName(name)); }

using files::isDir;

constexpr std::size_t kMaxFileBytes = 1 << 20;

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
    return files::defaultRoot();
}

DWORD create(const std::string& name) {
    std::lock_guard<std::mutex> lock(storeMutex());
    if (!files::makeDirs(containersDir())) {
        return NTE_FAIL;
    }
    switch (files::makeDir(folderOf(name))) {
        case files::MakeDir::Made:
            return 0;
        case files::MakeDir::Exists:
            return NTE_EXISTS;
        default:
            return NTE_FAIL;
    }
}

bool exists(const std::string& name) {
    std::lock_guard<std::mutex> lock(storeMutex());
    return isDir(folderOf(name));
}

DWORD remove(const std::string& name) {
    std::lock_guard<std::mutex> lock(storeMutex());
    const std::string dir = folderOf(name);
    if (!isDir(dir)) {
        return NTE_BAD_KEYSET;
    }
    return files::removeDirWithFiles(dir) ? 0 : NTE_FAIL;
}

std::vector<std::string> list() {
    std::lock_guard<std::mutex> lock(storeMutex());
    std::vector<std::string> names;
    std::vector<std::string> entries;
    const std::string base = containersDir();
    if (!files::listDir(base, entries)) {
        return names;
    }
    for (const auto& entry : entries) {
        std::string name;
        if (entry[0] != '.' && decodeName(entry, name) && isDir(files::join(base, entry))) {
            names.push_back(name);
        }
    }
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
    return files::writeFileAtomic(dir, kKeyFile, buf.data(), buf.size()) ? 0 : NTE_FAIL;
}

DWORD readKey(const std::string& name, bool withPrivate, StoredKey& key) {
    SecureBytes buf;
    {
        std::lock_guard<std::mutex> lock(storeMutex());
        const std::string dir = folderOf(name);
        if (!isDir(dir)) {
            return NTE_BAD_KEYSET;
        }
        if (!files::readFile(files::join(dir, kKeyFile), kMaxFileBytes, buf)) {
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
    return files::writeFileAtomic(dir, kCertFile, der, n) ? 0 : NTE_FAIL;
}

DWORD readCertificate(const std::string& name, std::vector<unsigned char>& der) {
    SecureBytes buf;
    std::lock_guard<std::mutex> lock(storeMutex());
    if (!files::readFile(files::join(folderOf(name), kCertFile), kMaxFileBytes, buf)) {
        return NTE_NOT_FOUND;
    }
    der.assign(buf.data(), buf.data() + buf.size());
    return 0;
}

}  // namespace containers

}  // namespace plcsp
