#include "softgost/provider/CspObjects.h"

#include <algorithm>
#include <cstring>

#include "softgost/gost/GostEc.h"
#include "softgost/provider/KeyContainerStore.h"

namespace plcsp {

namespace {

template <class T>
std::shared_ptr<T> find(std::unordered_map<ULONG_PTR, std::shared_ptr<T>>& m, ULONG_PTR h) {
    auto it = m.find(h);
    return it == m.end() ? nullptr : it->second;
}

template <class T>
bool erase(std::unordered_map<ULONG_PTR, std::shared_ptr<T>>& m, ULONG_PTR h,
           std::vector<std::shared_ptr<T>>& dropped) {
    auto it = m.find(h);
    if (it == m.end()) {
        return false;
    }
    dropped.push_back(std::move(it->second));
    m.erase(it);
    return true;
}

// Files obj under the fresh handle h and returns h.
template <class T>
ULONG_PTR insert(std::unordered_map<ULONG_PTR, std::shared_ptr<T>>& m, ULONG_PTR h, std::shared_ptr<T> obj) {
    m.emplace(h, std::move(obj));
    return h;
}

// Moves every object of m that belongs to the provider owner into dropped.
template <class T>
void eraseOwnedBy(std::unordered_map<ULONG_PTR, std::shared_ptr<T>>& m, ULONG_PTR owner,
                  std::vector<std::shared_ptr<T>>& dropped) {
    for (auto it = m.begin(); it != m.end();) {
        if (it->second->owner == owner) {
            dropped.push_back(std::move(it->second));
            it = m.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace

ULONG_PTR Registry::nextHandle() {
    m_next += 8;
    if (m_next < 0x10000) {  // wrapped: never hand out small numbers
        m_next = 0x10000;
    }
    return m_next;
}

HCRYPTPROV Registry::addProvider(std::shared_ptr<Provider> p) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return insert(m_providers, nextHandle(), std::move(p));
}

HCRYPTKEY Registry::addKey(std::shared_ptr<KeyObject> k) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return insert(m_keys, nextHandle(), std::move(k));
}

HCRYPTHASH Registry::addHash(std::shared_ptr<HashObject> hobj) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return insert(m_hashes, nextHandle(), std::move(hobj));
}

std::shared_ptr<Provider> Registry::provider(HCRYPTPROV h) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return find(m_providers, h);
}

std::shared_ptr<KeyObject> Registry::key(HCRYPTKEY h) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return find(m_keys, h);
}

std::shared_ptr<HashObject> Registry::hash(HCRYPTHASH h) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return find(m_hashes, h);
}

bool Registry::removeProvider(HCRYPTPROV h) {
    // Objects are destroyed after the lock is released (their destructors
    // may take time: wiping, closing libgcrypt handles).
    std::vector<std::shared_ptr<Provider>> provs;
    std::vector<std::shared_ptr<KeyObject>> keys;
    std::vector<std::shared_ptr<HashObject>> hashes;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!erase(m_providers, h, provs)) {
        return false;
    }
    eraseOwnedBy(m_keys, h, keys);
    eraseOwnedBy(m_hashes, h, hashes);
    return true;
}

bool Registry::removeKey(HCRYPTKEY h) {
    std::vector<std::shared_ptr<KeyObject>> dropped;
    std::lock_guard<std::mutex> lock(m_mutex);
    return erase(m_keys, h, dropped);
}

bool Registry::removeHash(HCRYPTHASH h) {
    std::vector<std::shared_ptr<HashObject>> dropped;
    std::lock_guard<std::mutex> lock(m_mutex);
    return erase(m_hashes, h, dropped);
}

Registry& registry() {
    static Registry* r = new Registry();  // never destroyed: handles may outlive statics
    return *r;
}

BOOL fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

BOOL putOutput(const void* src, DWORD n, BYTE* out, DWORD* len) {
    if (!len) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (!out) {
        *len = n;
        return TRUE;
    }
    if (*len < n) {
        *len = n;
        return fail(ERROR_MORE_DATA);
    }
    if (n) {
        std::memcpy(out, src, n);
    }
    *len = n;
    return TRUE;
}

DWORD loadKeyPair(const std::string& container, std::shared_ptr<KeyPair>& out) {
    StoredKey stored;
    if (DWORD e = containers::readKey(container, true, stored)) {
        return e;
    }
    auto kp = std::make_shared<KeyPair>();
    kp->cls = classOfPubKeyAlg(stored.pubKeyAlg);
    kp->curve = curveOfOid(stored.curveOid);
    if (!kp->cls || !kp->curve || kp->curve->coordBytes * 16 != kp->cls->bits ||
        stored.pub.size() != 2 * kp->curve->coordBytes || stored.d.size() != kp->curve->coordBytes) {
        return NTE_KEYSET_ENTRY_BAD;
    }
    kp->curveOid = stored.curveOid;
    kp->hashOid = stored.hashOid;
    kp->pub = stored.pub;
    kp->d = privateFromBytes(stored.d.data(), stored.d.size());
    kp->container = container;
    if (!kp->d) {
        return NTE_KEYSET_ENTRY_BAD;
    }
    out = std::move(kp);
    return 0;
}

}  // namespace plcsp
