// The provider handle the rest of the system holds: it owns a shared
// concrete provider (CryptoApi or the token provider) and forwards every
// interface operation to it. Copies share the provider. Without a provider
// every operation answers 3 ("Инициализация криптопровайдера не выполнена.").
#pragma once

#include <memory>
#include <string>

#include "crypto/CryptoProviderQn.h"
#include "crypto/eCertStore.h"
#include "platform/wincrypt.h"

namespace tesel {
class RequestPKCS10;
}

namespace qn::crypto {

class Crypto : public CryptoProviderQn {
public:
    Crypto() = default;
    Crypto(const Crypto&) = default;
    Crypto& operator=(const Crypto&) = default;
    ~Crypto() override = default;

    // Open a provider of the kind's interface; only on success does it
    // replace the held one.
    unsigned load(eSupportCP kind);
    unsigned load(const std::string& container, eSupportCP kind);
    unsigned load(const CERT_CONTEXT* cert, tesel::eCertStore store);
    unsigned createContainer(const std::string& container, eSupportCP kind);
    static unsigned remove(const std::string& container, eSupportCP kind);
    // Reverses the bytes of the blob in place.
    static void convertToRevertEndian(tesel::BLOB& blob);

    // Builds the request for the held key and signs it: out receives the
    // DER request. Status of the public key export, the request builder or
    // the signer; out is left empty on failure. Defined with the request
    // builder (pki/), which this library does not link: callers link pl_pki.
    unsigned signAndEncodePkcs10(tesel::RequestPKCS10* request, tesel::CBlob& out) const;
    unsigned signAndEncodePkcs10(tesel::RequestPKCS10& request, tesel::CBlob& out) const {
        return signAndEncodePkcs10(&request, out);
    }

    std::shared_ptr<CryptoProviderQn> getProvider() const { return m_provider; }

    unsigned release() override;
    unsigned getCspVersion(std::string& out) const override;
    unsigned getPublicKeyBlob(tesel::CBlob& out) const override;
    unsigned signMessage(const tesel::CBlob& data, tesel::CBlob& out) const override;
    unsigned getUniqueContainer(std::string& out) const override;
    eSupportCP getCSP() const override;
    unsigned getSzSign() const override;
    unsigned encryptMessage(const tesel::CBlob& plain, Crypto2SideInfo& peer, tesel::CBlob& out) override;
    unsigned encrypt(const tesel::CBlob& plain, CryptoHandle sessionKey, const tesel::CBlob& iv,
                     tesel::CBlob& out) override;
    unsigned decryptMessage(const tesel::CBlob& message, Crypto2SideInfo& peer, tesel::CBlob& out) override;
    unsigned decrypt(const tesel::CBlob& cipher, CryptoHandle sessionKey, const tesel::CBlob& iv,
                     tesel::CBlob& out) override;
    unsigned createSessionKey(CryptoHandle& sessionKey, tesel::CBlob& iv) override;
    unsigned addCertToContainer(const tesel::CBlob& cert) override;
    unsigned importPublicKey2Side(const tesel::CBlob& peerBlob, Crypto2SideInfo& peer) override;
    bool isValid() const override;
    unsigned verifySignMessage(const tesel::CBlob& signedData, CryptoHandle peerKey) const override;
    unsigned getCspInfo(UserCspInfo& out) const override;
    unsigned getContainersList(std::vector<std::string>& names) const override;
    unsigned getContainersAllList(std::vector<std::string>& names,
                                  std::vector<std::string>& fullNames) const override;
    std::shared_ptr<CryptoProviderQn> clone() const override;
    unsigned removeKeyPair(const std::string& container) override;
    unsigned signData(const unsigned char* data, unsigned n, unsigned char* signature) const override;
    unsigned encryptMessageInto(const tesel::BLOB& plain, Crypto2SideInfo& peer, unsigned headRoom,
                                unsigned tailRoom, tesel::CBlob& out) override;
    unsigned decryptMessageInto(const tesel::BLOB& message, Crypto2SideInfo& peer, unsigned headRoom,
                                tesel::CBlob& out) override;
    unsigned verifySignData(const tesel::BLOB& signedData, CryptoHandle peerKey) const override;

protected:
    std::shared_ptr<CryptoProviderQn> m_provider;
};

}  // namespace qn::crypto
