// The provider for the CryptoAPI kinds (2, 75, 77, 78, 80, 81): every
// operation is a sequence of CryptoAPI calls mapped to one catalog code.
#pragma once

#include <map>
#include <string>

#include "crypto/CryptoBase.h"

namespace qn::crypto {

class CryptoApi : public CryptoBase {
public:
    ~CryptoApi() override;
    CryptoApi(const CryptoApi&) = delete;
    CryptoApi& operator=(const CryptoApi&) = delete;

    // Factories: the new object goes to *out before the first step that can
    // fail; the caller owns it either way.
    static unsigned init(eSupportCP kind, CryptoApi** out);
    static unsigned init(const std::string& container, eSupportCP kind, CryptoApi** out);
    static unsigned init(const CERT_CONTEXT* cert, CryptoApi** out);
    static unsigned create(const std::string& container, eSupportCP kind, CryptoApi** out);
    static unsigned remove(const std::string& container, eSupportCP kind);
    // Names, on the context, the container that holds the certificate's key
    // (CERT_KEY_PROV_INFO_PROP_ID), so that a copy added to a store finds
    // its key through CryptAcquireCertificatePrivateKey. container: the name
    // as opened with CryptAcquireContextA (ANSI); the key is the exchange
    // key of the default provider of the kind's type. True when set.
    static bool linkCertToContainer(const CERT_CONTEXT* cert, const std::string& container, eSupportCP kind);

    unsigned release() override;
    unsigned getCspVersion(std::string& out) const override;
    unsigned getPublicKeyBlob(tesel::CBlob& out) const override;
    unsigned signMessage(const tesel::CBlob& data, tesel::CBlob& out) const override;
    unsigned getUniqueContainer(std::string& out) const override;
    unsigned encryptMessage(const tesel::CBlob& plain, Crypto2SideInfo& peer, tesel::CBlob& out) override;
    unsigned encrypt(const tesel::CBlob& plain, CryptoHandle sessionKey, const tesel::CBlob& iv,
                     tesel::CBlob& out) override;
    unsigned decryptMessage(const tesel::CBlob& message, Crypto2SideInfo& peer, tesel::CBlob& out) override;
    unsigned decrypt(const tesel::CBlob& cipher, CryptoHandle sessionKey, const tesel::CBlob& iv,
                     tesel::CBlob& out) override;
    unsigned createSessionKey(CryptoHandle& sessionKey, tesel::CBlob& iv) override;
    unsigned addCertToContainer(const tesel::CBlob& cert) override;
    unsigned importPublicKey2Side(const tesel::CBlob& peerBlob, Crypto2SideInfo& peer) override;
    unsigned verifySignMessage(const tesel::CBlob& signedData, CryptoHandle peerKey) const override;
    unsigned getCspInfo(UserCspInfo& out) const override;
    unsigned getContainersList(std::vector<std::string>& names) const override;
    unsigned getContainersAllList(std::vector<std::string>& names,
                                  std::vector<std::string>& fullNames) const override;
    std::shared_ptr<CryptoProviderQn> clone() const override { return nullptr; }
    unsigned removeKeyPair(const std::string& container) override;
    void releaseHandle(CryptoHandle handle) override;
    unsigned signData(const unsigned char* data, unsigned n, unsigned char* signature) const override;
    unsigned encryptMessageInto(const tesel::BLOB& plain, Crypto2SideInfo& peer, unsigned headRoom,
                                unsigned tailRoom, tesel::CBlob& out) override;
    unsigned decryptMessageInto(const tesel::BLOB& message, Crypto2SideInfo& peer, unsigned headRoom,
                                tesel::CBlob& out) override;
    unsigned verifySignData(const tesel::BLOB& signedData, CryptoHandle peerKey) const override;

    // Imports the peer's public key into peer (no agreement): 0 or 10.
    unsigned setPublicKey2Side(const tesel::CBlob& peerBlob, Crypto2SideInfo& peer);
    // SIMPLEBLOB of sessionKey under agreedKey; the agreed key's IV is set
    // back to agreedIV afterwards. 0 or 1.
    unsigned exportSessionKey(CryptoHandle sessionKey, CryptoHandle agreedKey, const tesel::CBlob& agreedIV,
                              tesel::CBlob& out);
    // Reads the key blob and the IV at the start of an encrypted message and
    // imports the session key; offset ends behind the IV. 0 or 7.
    unsigned importSessionKey(const tesel::CBlob& data, unsigned& offset, CryptoHandle agreedKey,
                              CryptoHandle& sessionKey);
    bool isVipnet() const;
    // The key parameter through which an agreed key's export algorithm is set.
    unsigned getExportSessionKeyAlgId() const;
    // Duplicates of the current user's "MY" store certificates under 0, 1, 2…
    static unsigned getCertList(std::map<unsigned, const CERT_CONTEXT*>& certs);

private:
    CryptoApi() = default;
    // Makes the object, hands it out through out (the caller owns it, also
    // after a failure) and acquires its provider; false when that fails.
    static bool acquire(const char* container, eSupportCP kind, DWORD flags, CryptoApi** out);
    // Takes the provider's exchange key as the user key; false without one.
    bool loadUserKey();
    // Copies n plain bytes to dst and encrypts them there with the key's
    // running stream in pieces of 1024 bytes; false on a failure.
    bool encryptInPlace(const unsigned char* plain, unsigned n, HCRYPTKEY key, unsigned char* dst) const;
    bool decryptInPlace(unsigned char* data, unsigned n, HCRYPTKEY key) const;
    // importSessionKey of the encrypted message in the size bytes at p.
    unsigned importSessionKeyAt(const unsigned char* p, unsigned size, unsigned& offset, CryptoHandle agreedKey,
                                CryptoHandle& sessionKey);
    unsigned enumContainers(DWORD extraFlags, std::vector<std::string>& names) const;

    HCRYPTKEY m_userKey = 0;
};

}  // namespace qn::crypto
