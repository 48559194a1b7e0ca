#include "crypto/Crypto1By1Connect.h"

#include <algorithm>
#include <utility>

#include "crypto/CryptoApi.h"
#include "crypto/CryptoP11.h"
#include "crypto/CspAlgorithms.h"
#include "errors/eErrCodes.h"

namespace qn::crypto {

// Handles made by one pairing, and the provider that made them. A record
// keeps the previous one alive while the pairing still uses its handles.
struct Crypto1By1Connect::PeerKeys {
    std::shared_ptr<CryptoProviderQn> provider;
    std::vector<CryptoHandle> handles;
    std::shared_ptr<PeerKeys> previous;
    std::mutex use;

    ~PeerKeys() {
        if (auto* base = dynamic_cast<CryptoBase*>(provider.get())) {
            for (CryptoHandle h : handles) base->releaseHandle(h);
        }
    }
};

namespace {

bool uses(const Crypto2SideInfo& side, CryptoHandle h) {
    return h != 0 && (side.getPublicKey() == h || side.getAgreeKey() == h);
}

template <class Record>
bool holdsAnyOf(const Record* keys, const Crypto2SideInfo& side) {
    for (; keys != nullptr; keys = keys->previous.get()) {
        for (CryptoHandle h : keys->handles) {
            if (uses(side, h)) return true;
        }
    }
    return false;
}

void releaseNew(const std::shared_ptr<CryptoProviderQn>& provider, const Crypto2SideInfo& before,
                const Crypto2SideInfo& after) {
    auto* base = dynamic_cast<CryptoBase*>(provider.get());
    if (!base) return;
    for (CryptoHandle h : {after.getPublicKey(), after.getAgreeKey()}) {
        if (h != 0 && !uses(before, h)) base->releaseHandle(h);
    }
}

}  // namespace

Crypto1By1Connect::Crypto1By1Connect(const Crypto1By1Connect& other) : Crypto() {
    std::lock_guard<std::mutex> lock(other.m_mutex);
    Crypto::operator=(other);
    m_side = other.m_side;
    m_keys = other.m_keys;
}

Crypto1By1Connect& Crypto1By1Connect::operator=(const Crypto1By1Connect& other) {
    if (this == &other) return *this;
    std::shared_ptr<PeerKeys> dropped;
    {
        std::scoped_lock lock(m_mutex, other.m_mutex);
        Crypto::operator=(other);
        m_side = other.m_side;
        dropped = std::exchange(m_keys, other.m_keys);
    }
    return *this;  // dropped gives its handles back here unless still shared
}

Crypto1By1Connect::~Crypto1By1Connect() = default;

unsigned Crypto1By1Connect::init(eSupportCP kind, Crypto1By1Connect** out) {
    *out = new Crypto1By1Connect();
    return (*out)->load(kind);
}

unsigned Crypto1By1Connect::init(const std::string& container, eSupportCP kind, Crypto1By1Connect** out) {
    *out = new Crypto1By1Connect();
    return (*out)->load(container, kind);
}

unsigned Crypto1By1Connect::init(const CERT_CONTEXT* cert, tesel::eCertStore store, Crypto1By1Connect** out) {
    *out = new Crypto1By1Connect();
    return (*out)->load(cert, store);
}

unsigned Crypto1By1Connect::create(const std::string& container, eSupportCP kind, Crypto1By1Connect** out) {
    *out = new Crypto1By1Connect();
    return (*out)->createContainer(container, kind);
}

unsigned Crypto1By1Connect::remove(const std::string& container, eSupportCP kind) {
    if (getSupportCryptoInterface(kind) == 1) {
        return CryptoApi::remove(container, kind);
    }
    if (getSupportCryptoInterface(kind) == 2) {
        return CryptoP11::remove(container, kind);
    }
    return ERR_INTERNAL;
}

unsigned Crypto1By1Connect::getPublicKey(tesel::CBlob& out) const { return getPublicKeyBlob(out); }

unsigned Crypto1By1Connect::importPublicKey2Side(const tesel::CBlob& peerKey) {
    std::shared_ptr<PeerKeys> dropped;
    std::lock_guard<std::mutex> lock(m_mutex);
    const Crypto2SideInfo before = m_side;
    Crypto2SideInfo side = m_side;
    const unsigned r = Crypto::importPublicKey2Side(peerKey, side);
    if (r != ERR_OK) {
        releaseNew(m_provider, before, side);
        return r;
    }
    auto keys = std::make_shared<PeerKeys>();
    keys->provider = m_provider;
    for (CryptoHandle h : {side.getPublicKey(), side.getAgreeKey()}) {
        if (h != 0 && !uses(before, h)) keys->handles.push_back(h);
    }
    if (holdsAnyOf(m_keys.get(), side)) keys->previous = m_keys;
    m_side = side;
    dropped = std::exchange(m_keys, std::move(keys));
    return ERR_OK;
}

unsigned Crypto1By1Connect::importPublicKey2Side(const tesel::CBlob& peerKey, const tesel::CBlob& certSN) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_side.setCertSN(certSN);
    }
    return importPublicKey2Side(peerKey);
}

unsigned Crypto1By1Connect::encryptMessage(const tesel::CBlob& plain, tesel::CBlob& out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::unique_lock<std::mutex> keyUse;
    if (m_keys) keyUse = std::unique_lock<std::mutex>(m_keys->use);
    return Crypto::encryptMessage(plain, m_side, out);
}

unsigned Crypto1By1Connect::decryptMessage(const tesel::CBlob& packet, tesel::CBlob& out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::unique_lock<std::mutex> keyUse;
    if (m_keys) keyUse = std::unique_lock<std::mutex>(m_keys->use);
    return Crypto::decryptMessage(packet, m_side, out);
}

unsigned Crypto1By1Connect::encryptMessageInto(const tesel::BLOB& plain, unsigned headRoom, unsigned tailRoom,
                                               tesel::CBlob& out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::unique_lock<std::mutex> keyUse;
    if (m_keys) keyUse = std::unique_lock<std::mutex>(m_keys->use);
    return Crypto::encryptMessageInto(plain, m_side, headRoom, tailRoom, out);
}

unsigned Crypto1By1Connect::decryptMessageInto(const tesel::BLOB& message, unsigned headRoom, tesel::CBlob& out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::unique_lock<std::mutex> keyUse;
    if (m_keys) keyUse = std::unique_lock<std::mutex>(m_keys->use);
    return Crypto::decryptMessageInto(message, m_side, headRoom, out);
}

unsigned Crypto1By1Connect::verifySignMessage(const tesel::CBlob& signedData) const {
    return verifySignData(signedData.getBLOB());
}

unsigned Crypto1By1Connect::verifySignData(const tesel::BLOB& signedData) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return Crypto::verifySignData(signedData, m_side.getPublicKey());
}

Crypto2SideInfo Crypto1By1Connect::get2SideInfo() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_side;
}

}  // namespace qn::crypto
