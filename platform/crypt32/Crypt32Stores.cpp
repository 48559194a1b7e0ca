// System certificate stores of the current user ("MY", "AddressBook", ...)
// for the crypt32 subset: CertOpenStore, CertEnumCertificatesInStore,
// CertAddCertificateContextToStore, CertCloseStore.
//
// A store is the folder <root>/stores/<name>/ (root as for key containers)
// holding one DER file per certificate, named by a sequence number and the
// certificate's SHA-1 ("00000003-<sha1 hex>.der"), so that enumeration
// follows the order in which certificates were added. Opening a store reads
// a snapshot of it; added certificates join the snapshot.
//
// A certificate's key container (CERT_KEY_PROV_INFO_PROP_ID) is kept beside
// it in "<same name>.keyprov" (text, see keyProvText); a certificate without
// that file has no such property. Stores that CryptQueryObject hands out
// live in memory only (no folder).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <set>
#include <vector>

#include "platform/crypt32/CertContexts.h"
#include "softgost/provider/CspObjects.h"
#include "softgost/provider/KeyContainerStore.h"

using namespace plcsp;

namespace {

struct Store {
    std::mutex mutex;
    std::string dir;                     // empty for a store in memory
    std::vector<PCCERT_CONTEXT> certs;   // one reference each, held by the store
    std::vector<std::string> fileIds;    // SHA-1 hex of each certificate
    std::vector<std::string> fileBases;  // file name without ".der" (empty in memory)
    unsigned nextSeq = 1;
};

std::mutex& storesMutex() {
    static std::mutex m;
    return m;
}

std::set<Store*>& openStores() {
    static auto* s = new std::set<Store*>();
    return *s;
}

Store* lookup(HCERTSTORE h) {
    std::lock_guard<std::mutex> lock(storesMutex());
    auto* s = static_cast<Store*>(h);
    return openStores().count(s) ? s : nullptr;
}

std::string sha1Hex(const unsigned char* p, std::size_t n) {
    ensureGcrypt();
    unsigned char digest[20];
    gcry_md_hash_buffer(GCRY_MD_SHA1, digest, p, n);
    char hex[41];
    for (int i = 0; i < 20; ++i) {
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    }
    return std::string(hex, 40);
}

bool storeName(const void* pvPara, std::string& out) {
    const auto* w = static_cast<const WCHAR*>(pvPara);
    if (!w) {
        return false;
    }
    out.clear();
    for (; *w; ++w) {
        const WCHAR c = *w;
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) || out.size() >= 64) {
            return false;
        }
        out.push_back(static_cast<char>(c));
    }
    return !out.empty();
}

bool makeDir(const std::string& path) {
    std::size_t pos = 1;
    while (pos <= path.size()) {
        std::size_t next = path.find('/', pos);
        if (next == std::string::npos) next = path.size();
        const std::string part = path.substr(0, next);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        pos = next + 1;
    }
    return true;
}

bool readAll(const std::string& path, Bytes& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        return false;
    }
    out.clear();
    unsigned char buf[4096];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && out.size() < (1u << 22)) {
        out.insert(out.end(), buf, buf + n);
    }
    std::fclose(f);
    return true;
}

bool writeAtomic(const std::string& dir, const std::string& file, const unsigned char* p, std::size_t n) {
    const std::string tmp = dir + "/." + file + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    bool ok = ::write(fd, p, n) == static_cast<ssize_t>(n) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok && ::rename(tmp.c_str(), (dir + "/" + file).c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
    }
    return ok;
}

constexpr const char* kLinkSuffix = ".keyprov";

// Reads the key container link kept beside a certificate into its context
// (or removes the context's link when there is none or it is unreadable).
void loadLink(const std::string& dir, const std::string& base, PCCERT_CONTEXT cert) {
    Bytes text;
    KeyProvLink link;
    const bool ok = readAll(dir + "/" + base + kLinkSuffix, text) && text.size() < 16384 &&
                    keyProvFromText(std::string(text.begin(), text.end()), link);
    setKeyProv(cert, ok ? &link : nullptr);
}

// Makes the file beside a stored certificate say what the context's link
// is: written when it has one, removed when it has none.
bool saveLink(const std::string& dir, const std::string& base, PCCERT_CONTEXT cert) {
    KeyProvLink link;
    if (!keyProvOf(cert, link)) {
        const std::string path = dir + "/" + base + kLinkSuffix;
        return ::unlink(path.c_str()) == 0 || errno == ENOENT;
    }
    const std::string text = keyProvText(link);
    return writeAtomic(dir, base + kLinkSuffix, reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

// Certificates already read, by file path: a store is read again at every
// open, and parsing each file every time made listing a store slow. An
// entry counts only while its file has the size and time it had; the cache
// holds one reference of each context.
struct CachedCert {
    off_t size = 0;
    struct timespec mtime {};
    PCCERT_CONTEXT cert = nullptr;
};

PCCERT_CONTEXT cachedCert(const std::string& path) {
    static std::mutex mutex;
    static auto* cache = new std::map<std::string, CachedCert>();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = cache->find(path);
        if (it != cache->end() && it->second.size == st.st_size && it->second.mtime.tv_sec == st.st_mtim.tv_sec &&
            it->second.mtime.tv_nsec == st.st_mtim.tv_nsec) {
            return CertDuplicateCertificateContext(it->second.cert);
        }
    }
    Bytes der;
    if (!readAll(path, der)) {
        return nullptr;
    }
    PCCERT_CONTEXT c = newCertContext(der);
    if (!c) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex);
    CachedCert& entry = (*cache)[path];
    if (entry.cert) CertFreeCertificateContext(entry.cert);
    entry = {st.st_size, st.st_mtim, CertDuplicateCertificateContext(c)};
    return c;
}

void loadSnapshot(Store& s) {
    std::vector<std::string> files;
    if (DIR* d = ::opendir(s.dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() == 8 + 1 + 40 + 4 && name[8] == '-' && name.compare(name.size() - 4, 4, ".der") == 0) {
                files.push_back(name);
            }
        }
        ::closedir(d);
    }
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        unsigned seq = 0;
        std::sscanf(f.c_str(), "%8u", &seq);
        s.nextSeq = std::max(s.nextSeq, seq + 1);
        if (PCCERT_CONTEXT c = cachedCert(s.dir + "/" + f)) {
            const std::string base = f.substr(0, f.size() - 4);
            loadLink(s.dir, base, c);
            s.certs.push_back(c);
            // Matched by content, not by the name: files may be put here by
            // hand under any name of the pattern.
            s.fileIds.push_back(sha1Hex(c->pbCertEncoded, c->cbCertEncoded));
            s.fileBases.push_back(base);
        }
    }
}

}  // namespace

HCERTSTORE plcsp::newMemoryStore(const std::vector<PCCERT_CONTEXT>& certs) {
    auto* s = new Store();
    for (PCCERT_CONTEXT c : certs) {
        const Bytes der(c->pbCertEncoded, c->pbCertEncoded + c->cbCertEncoded);
        s->certs.push_back(c);
        s->fileIds.push_back(sha1Hex(der.data(), der.size()));
        s->fileBases.emplace_back();
    }
    std::lock_guard<std::mutex> lock(storesMutex());
    openStores().insert(s);
    return s;
}

HCERTSTORE CertOpenStore(LPCSTR lpszStoreProvider, DWORD /*dwEncodingType*/, HCRYPTPROV_LEGACY /*hCryptProv*/,
                         DWORD dwFlags, const void* pvPara) {
    std::string name;
    if (lpszStoreProvider != CERT_STORE_PROV_SYSTEM_W || !(dwFlags & CERT_SYSTEM_STORE_CURRENT_USER) ||
        !storeName(pvPara, name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* s = new Store();
    s->dir = containers::rootDir() + "/stores/" + name;
    if (!makeDir(s->dir)) {
        delete s;
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    loadSnapshot(*s);
    std::lock_guard<std::mutex> lock(storesMutex());
    openStores().insert(s);
    return s;
}

PCCERT_CONTEXT CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext) {
    Store* s = lookup(hCertStore);
    if (!s) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    PCCERT_CONTEXT next = nullptr;
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        std::size_t i = 0;
        if (pPrevCertContext) {
            auto it = std::find(s->certs.begin(), s->certs.end(), pPrevCertContext);
            if (it == s->certs.end()) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return nullptr;
            }
            i = static_cast<std::size_t>(it - s->certs.begin()) + 1;
        }
        if (i < s->certs.size()) {
            next = CertDuplicateCertificateContext(s->certs[i]);
        }
    }
    // As on Windows, the previous context's reference is given back.
    CertFreeCertificateContext(pPrevCertContext);
    if (!next) {
        SetLastError(CRYPT_E_NOT_FOUND);
    }
    return next;
}

BOOL CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                      DWORD dwAddDisposition, PCCERT_CONTEXT* ppStoreContext) {
    Store* s = lookup(hCertStore);
    if (!s || !pCertContext || !pCertContext->pbCertEncoded || dwAddDisposition < CERT_STORE_ADD_NEW ||
        dwAddDisposition > CERT_STORE_ADD_ALWAYS) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const Bytes der(pCertContext->pbCertEncoded, pCertContext->pbCertEncoded + pCertContext->cbCertEncoded);
    const std::string id = sha1Hex(der.data(), der.size());
    std::lock_guard<std::mutex> lock(s->mutex);
    auto it = std::find(s->fileIds.begin(), s->fileIds.end(), id);
    if (it != s->fileIds.end()) {
        const std::size_t i = static_cast<std::size_t>(it - s->fileIds.begin());
        if (dwAddDisposition == CERT_STORE_ADD_NEW) {
            return fail(CRYPT_E_EXISTS);
        }
        // Same bytes: the stored certificate stays and takes the new one's
        // key container link. Replacing takes the link as it is (none
        // included); using the existing one only adds a link it lacked.
        KeyProvLink link;
        const bool linked = keyProvOf(pCertContext, link);
        if (linked || dwAddDisposition != CERT_STORE_ADD_USE_EXISTING) {
            KeyProvLink old;
            const bool hadLink = keyProvOf(s->certs[i], old);
            setKeyProv(s->certs[i], linked ? &link : nullptr);
            if (!s->dir.empty() && !saveLink(s->dir, s->fileBases[i], s->certs[i])) {
                setKeyProv(s->certs[i], hadLink ? &old : nullptr);
                return fail(ERROR_ACCESS_DENIED);
            }
        }
        if (ppStoreContext) {
            *ppStoreContext = CertDuplicateCertificateContext(s->certs[i]);
        }
        return TRUE;
    }
    PCCERT_CONTEXT stored = newCertContext(der);
    if (!stored) {
        return fail(CRYPT_E_BAD_ENCODE);
    }
    KeyProvLink link;
    if (keyProvOf(pCertContext, link)) {
        setKeyProv(stored, &link);
    }
    std::string base;
    if (!s->dir.empty()) {
        char file[64];
        std::snprintf(file, sizeof file, "%08u-%s", s->nextSeq, id.c_str());
        base = file;
        // The link first: a certificate is never seen without the link it
        // was added with.
        if (!saveLink(s->dir, base, stored) || !writeAtomic(s->dir, base + ".der", der.data(), der.size())) {
            const std::string linkPath = s->dir + "/" + base + kLinkSuffix;
            ::unlink(linkPath.c_str());
            CertFreeCertificateContext(stored);
            return fail(ERROR_ACCESS_DENIED);
        }
        ++s->nextSeq;
    }
    s->certs.push_back(stored);
    s->fileIds.push_back(id);
    s->fileBases.push_back(base);
    if (ppStoreContext) {
        *ppStoreContext = CertDuplicateCertificateContext(stored);
    }
    return TRUE;
}

BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD /*dwFlags*/) {
    if (!hCertStore) {
        return TRUE;
    }
    Store* s = nullptr;
    {
        std::lock_guard<std::mutex> lock(storesMutex());
        s = static_cast<Store*>(hCertStore);
        if (!openStores().erase(s)) {
            return fail(ERROR_INVALID_PARAMETER);
        }
    }
    for (PCCERT_CONTEXT c : s->certs) {
        CertFreeCertificateContext(c);
    }
    delete s;
    return TRUE;
}
