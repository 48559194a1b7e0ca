#include "crypto/Crypto1By1Connect.h"

#include <algorithm>

#include "crypto/CryptoApi.h"
#include "crypto/CspAlgorithms.h"
#include "errors/eErrCodes.h"

namespace qn::crypto {

Crypto1By1Connect::Crypto1By1Connect(const Crypto1By1Connect& other) : Crypto(other), m_side(other.m_side) {}

Crypto1By1Connect& Crypto1By1Connect::operator=(const Crypto1By1Connect& other) {
    if (this != &other) {
        releaseOwned(nullptr);
        Crypto::operator=(other);
        m_side = other.m_side;
    }
    return *this;
}

Crypto1By1Connect::~Crypto1By1Connect() { releaseOwned(nullptr); }

void Crypto1By1Connect::releaseOwned(const Crypto2SideInfo* keepFrom) {
    auto* base = dynamic_cast<CryptoBase*>(m_ownedBy.get());
    std::vector<CryptoHandle> kept;
    for (CryptoHandle h : m_owned) {
        if (keepFrom && (h == keepFrom->getPublicKey() || h == keepFrom->getAgreeKey())) {
            kept.push_back(h);
        } else if (base) {
            base->releaseHandle(h);
        }
    }
    m_owned = std::move(kept);
    if (m_owned.empty()) {
        m_ownedBy.reset();
    }
}

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
    return ERR_INTERNAL;  // token kinds: served by the PKCS#11 provider
}

unsigned Crypto1By1Connect::getPublicKey(tesel::CBlob& out) const { return getPublicKeyBlob(out); }

unsigned Crypto1By1Connect::importPublicKey2Side(const tesel::CBlob& peerKey) {
    const Crypto2SideInfo before = m_side;
    const unsigned r = Crypto::importPublicKey2Side(peerKey, m_side);
    // Handles that the import made are ours; replaced ones of ours go back.
    std::vector<CryptoHandle> created;
    for (CryptoHandle h : {m_side.getPublicKey(), m_side.getAgreeKey()}) {
        if (h != 0 && h != before.getPublicKey() && h != before.getAgreeKey()) {
            created.push_back(h);
        }
    }
    if (!created.empty()) {
        if (m_ownedBy != m_provider) {
            releaseOwned(nullptr);
        } else {
            releaseOwned(&m_side);
        }
        m_ownedBy = m_provider;
        m_owned.insert(m_owned.end(), created.begin(), created.end());
    }
    return r;
}

unsigned Crypto1By1Connect::importPublicKey2Side(const tesel::CBlob& peerKey, const tesel::CBlob& certSN) {
    m_side.setCertSN(certSN);
    return importPublicKey2Side(peerKey);
}

unsigned Crypto1By1Connect::encryptMessage(const tesel::CBlob& plain, tesel::CBlob& out) {
    return Crypto::encryptMessage(plain, m_side, out);
}

unsigned Crypto1By1Connect::decryptMessage(const tesel::CBlob& packet, tesel::CBlob& out) {
    return Crypto::decryptMessage(packet, m_side, out);
}

unsigned Crypto1By1Connect::encryptMessageInto(const tesel::CBlob& plain, unsigned headRoom, unsigned tailRoom,
                                               tesel::CBlob& out) {
    return Crypto::encryptMessageInto(plain, m_side, headRoom, tailRoom, out);
}

unsigned Crypto1By1Connect::decryptMessageAt(const tesel::CBlob& packet, unsigned from, unsigned n,
                                             tesel::CBlob& out) {
    return Crypto::decryptMessageAt(packet, from, n, m_side, out);
}

unsigned Crypto1By1Connect::verifySignMessage(const tesel::CBlob& signedData) const {
    return Crypto::verifySignMessage(signedData, m_side.getPublicKey());
}

}  // namespace qn::crypto
