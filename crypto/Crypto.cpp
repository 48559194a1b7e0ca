#include "crypto/Crypto.h"

#include <algorithm>

#include "crypto/CryptoApi.h"
#include "crypto/CryptoP11.h"
#include "crypto/CspAlgorithms.h"
#include "errors/eErrCodes.h"

namespace qn::crypto {

namespace {

constexpr unsigned kNotOpen = ERR_CSP_NOT_INITIALIZED;

// Runs a CryptoApi factory; the provider replaces the held one on success
// and is destroyed otherwise.
template <class Factory>
unsigned openApi(std::shared_ptr<CryptoProviderQn>& held, Factory factory) {
    CryptoApi* raw = nullptr;
    const unsigned r = factory(&raw);
    std::shared_ptr<CryptoProviderQn> provider(raw);
    if (r == ERR_OK && provider) {
        held = std::move(provider);
    }
    return raw ? r : static_cast<unsigned>(ERR_INTERNAL);
}

// The same for a CryptoP11 factory; the certificate factory hands out no
// object when it fails.
template <class Factory>
unsigned openP11(std::shared_ptr<CryptoProviderQn>& held, Factory factory) {
    CryptoP11* raw = nullptr;
    const unsigned r = factory(&raw);
    std::shared_ptr<CryptoProviderQn> provider(raw);
    if (r == ERR_OK && provider) {
        held = std::move(provider);
    }
    return r != ERR_OK || raw ? r : static_cast<unsigned>(ERR_INTERNAL);
}

}  // namespace

unsigned Crypto::load(eSupportCP kind) {
    if (getSupportCryptoInterface(kind) == 1) {
        return openApi(m_provider, [&](CryptoApi** out) { return CryptoApi::init(kind, out); });
    }
    if (getSupportCryptoInterface(kind) == 2) {
        return openP11(m_provider, [&](CryptoP11** out) { return CryptoP11::init(kind, out); });
    }
    return ERR_INTERNAL;
}

unsigned Crypto::load(const std::string& container, eSupportCP kind) {
    if (getSupportCryptoInterface(kind) == 1) {
        return openApi(m_provider, [&](CryptoApi** out) { return CryptoApi::init(container, kind, out); });
    }
    if (getSupportCryptoInterface(kind) == 2) {
        return openP11(m_provider, [&](CryptoP11** out) { return CryptoP11::init(container, kind, out); });
    }
    return ERR_INTERNAL;
}

unsigned Crypto::load(const CERT_CONTEXT* cert, tesel::eCertStore store) {
    if (store == tesel::CERT_STORE_SYSTEM) {
        return openApi(m_provider, [&](CryptoApi** out) { return CryptoApi::init(cert, out); });
    }
    if (store == tesel::CERT_STORE_JACARTA || store == tesel::CERT_STORE_RUTOKEN) {
        return openP11(m_provider, [&](CryptoP11** out) { return CryptoP11::init(cert, store, out); });
    }
    return ERR_INTERNAL;
}

unsigned Crypto::createContainer(const std::string& container, eSupportCP kind) {
    if (getSupportCryptoInterface(kind) == 1) {
        return openApi(m_provider, [&](CryptoApi** out) { return CryptoApi::create(container, kind, out); });
    }
    if (getSupportCryptoInterface(kind) == 2) {
        return openP11(m_provider, [&](CryptoP11** out) { return CryptoP11::create(container, kind, out); });
    }
    return ERR_INTERNAL;
}

unsigned Crypto::remove(const std::string&, eSupportCP) { return ERR_OK; }

void Crypto::convertToRevertEndian(tesel::BLOB& blob) {
    if (blob.pbData && blob.cbData > 1) {
        std::reverse(blob.pbData, blob.pbData + blob.cbData);
    }
}

unsigned Crypto::release() { return m_provider ? m_provider->release() : kNotOpen; }

unsigned Crypto::getCspVersion(std::string& out) const {
    return m_provider ? m_provider->getCspVersion(out) : kNotOpen;
}

unsigned Crypto::getPublicKeyBlob(tesel::CBlob& out) const {
    return m_provider ? m_provider->getPublicKeyBlob(out) : kNotOpen;
}

unsigned Crypto::signMessage(const tesel::CBlob& data, tesel::CBlob& out) const {
    return m_provider ? m_provider->signMessage(data, out) : kNotOpen;
}

unsigned Crypto::getUniqueContainer(std::string& out) const {
    return m_provider ? m_provider->getUniqueContainer(out) : kNotOpen;
}

eSupportCP Crypto::getCSP() const { return m_provider ? m_provider->getCSP() : CP_NONE; }

unsigned Crypto::getSzSign() const { return m_provider ? m_provider->getSzSign() : 0; }

unsigned Crypto::encryptMessage(const tesel::CBlob& plain, Crypto2SideInfo& peer, tesel::CBlob& out) {
    return m_provider ? m_provider->encryptMessage(plain, peer, out) : kNotOpen;
}

unsigned Crypto::encrypt(const tesel::CBlob& plain, CryptoHandle sessionKey, const tesel::CBlob& iv,
                         tesel::CBlob& out) {
    return m_provider ? m_provider->encrypt(plain, sessionKey, iv, out) : kNotOpen;
}

unsigned Crypto::decryptMessage(const tesel::CBlob& message, Crypto2SideInfo& peer, tesel::CBlob& out) {
    return m_provider ? m_provider->decryptMessage(message, peer, out) : kNotOpen;
}

unsigned Crypto::signData(const unsigned char* data, unsigned n, unsigned char* signature) const {
    return m_provider ? m_provider->signData(data, n, signature) : kNotOpen;
}

unsigned Crypto::encryptMessageInto(const tesel::BLOB& plain, Crypto2SideInfo& peer, unsigned headRoom,
                                    unsigned tailRoom, tesel::CBlob& out) {
    return m_provider ? m_provider->encryptMessageInto(plain, peer, headRoom, tailRoom, out) : kNotOpen;
}

unsigned Crypto::decryptMessageInto(const tesel::BLOB& message, Crypto2SideInfo& peer, unsigned headRoom,
                                    tesel::CBlob& out) {
    return m_provider ? m_provider->decryptMessageInto(message, peer, headRoom, out) : kNotOpen;
}

unsigned Crypto::verifySignData(const tesel::BLOB& signedData, CryptoHandle peerKey) const {
    return m_provider ? m_provider->verifySignData(signedData, peerKey) : kNotOpen;
}

unsigned Crypto::decrypt(const tesel::CBlob& cipher, CryptoHandle sessionKey, const tesel::CBlob& iv,
                         tesel::CBlob& out) {
    return m_provider ? m_provider->decrypt(cipher, sessionKey, iv, out) : kNotOpen;
}

unsigned Crypto::createSessionKey(CryptoHandle& sessionKey, tesel::CBlob& iv) {
    return m_provider ? m_provider->createSessionKey(sessionKey, iv) : kNotOpen;
}

unsigned Crypto::addCertToContainer(const tesel::CBlob& cert) {
    return m_provider ? m_provider->addCertToContainer(cert) : kNotOpen;
}

unsigned Crypto::importPublicKey2Side(const tesel::CBlob& peerBlob, Crypto2SideInfo& peer) {
    return m_provider ? m_provider->importPublicKey2Side(peerBlob, peer) : kNotOpen;
}

bool Crypto::isValid() const { return m_provider && m_provider->isValid(); }

unsigned Crypto::verifySignMessage(const tesel::CBlob& signedData, CryptoHandle peerKey) const {
    return m_provider ? m_provider->verifySignMessage(signedData, peerKey) : kNotOpen;
}

unsigned Crypto::getCspInfo(UserCspInfo& out) const {
    return m_provider ? m_provider->getCspInfo(out) : kNotOpen;
}

unsigned Crypto::getContainersList(std::vector<std::string>& names) const {
    return m_provider ? m_provider->getContainersList(names) : kNotOpen;
}

unsigned Crypto::getContainersAllList(std::vector<std::string>& names, std::vector<std::string>& fullNames) const {
    return m_provider ? m_provider->getContainersAllList(names, fullNames) : kNotOpen;
}

std::shared_ptr<CryptoProviderQn> Crypto::clone() const { return m_provider ? m_provider->clone() : nullptr; }

unsigned Crypto::removeKeyPair(const std::string& container) {
    return m_provider ? m_provider->removeKeyPair(container) : kNotOpen;
}

}  // namespace qn::crypto
