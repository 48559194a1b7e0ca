// The provider interface that the CryptoAPI provider and the PKCS#11 token
// provider implement. Every operation returns 0 or an error catalog code.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/CBlob.h"
#include "crypto/Crypto2SideInfo.h"
#include "crypto/UserCspInfo.h"
#include "crypto/eSupportCP.h"

namespace qn::crypto {

class CryptoProviderQn {
public:
    virtual ~CryptoProviderQn() = default;
    virtual unsigned release() = 0;
    virtual unsigned getCspVersion(std::string& out) const = 0;
    // The user's public key as a PUBLICKEYBLOB.
    virtual unsigned getPublicKeyBlob(tesel::CBlob& out) const = 0;
    // out = data followed by the signature of getSzSign() bytes.
    virtual unsigned signMessage(const tesel::CBlob& data, tesel::CBlob& out) const = 0;
    virtual unsigned getUniqueContainer(std::string& out) const = 0;
    virtual eSupportCP getCSP() const = 0;
    virtual unsigned getSzSign() const = 0;
    virtual unsigned encryptMessage(const tesel::CBlob& plain, Crypto2SideInfo& peer,
                                    tesel::CBlob& out) = 0;
    virtual unsigned encrypt(const tesel::CBlob& plain, CryptoHandle sessionKey, const tesel::CBlob& iv,
                             tesel::CBlob& out) = 0;
    virtual unsigned decryptMessage(const tesel::CBlob& message, Crypto2SideInfo& peer,
                                    tesel::CBlob& out) = 0;
    virtual unsigned decrypt(const tesel::CBlob& cipher, CryptoHandle sessionKey, const tesel::CBlob& iv,
                             tesel::CBlob& out) = 0;
    virtual unsigned createSessionKey(CryptoHandle& sessionKey, tesel::CBlob& iv) = 0;
    virtual unsigned addCertToContainer(const tesel::CBlob& cert) = 0;
    // Key agreement with the peer whose PUBLICKEYBLOB is given.
    virtual unsigned importPublicKey2Side(const tesel::CBlob& peerBlob, Crypto2SideInfo& peer) = 0;
    virtual bool isValid() const = 0;
    virtual unsigned verifySignMessage(const tesel::CBlob& signedData, CryptoHandle peerKey) const = 0;
    virtual unsigned getCspInfo(UserCspInfo& out) const = 0;
    virtual unsigned getContainersList(std::vector<std::string>& names) const = 0;
    virtual unsigned getContainersAllList(std::vector<std::string>& names,
                                          std::vector<std::string>& fullNames) const = 0;
    // A new provider on the same token and key, or null where the provider
    // cannot be copied.
    virtual std::shared_ptr<CryptoProviderQn> clone() const = 0;
    virtual unsigned removeKeyPair(const std::string& container) = 0;
};

}  // namespace qn::crypto
