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

    // Forms of signing, encryption and decryption that work inside the
    // caller's buffers, so that a large packet is not copied from one buffer
    // to the next. The defaults go through the operations above (and copy);
    // a provider overrides them where it can do better.
    //
    // The getSzSign() bytes of signature over the n bytes at data; the
    // signature is written to signature.
    virtual unsigned signData(const unsigned char* data, unsigned n, unsigned char* signature) const;
    // encryptMessage into out, which is allocated to exactly headRoom + the
    // encrypted message + tailRoom bytes: the message starts at headRoom, the
    // first headRoom and the last tailRoom bytes are the caller's to fill.
    virtual unsigned encryptMessageInto(const tesel::BLOB& plain, Crypto2SideInfo& peer, unsigned headRoom,
                                        unsigned tailRoom, tesel::CBlob& out);
    // decryptMessage of the encrypted message that message views, into out,
    // which is allocated to exactly headRoom + the plain text: the text
    // starts at headRoom, the first headRoom bytes are the caller's to fill.
    virtual unsigned decryptMessageInto(const tesel::BLOB& message, Crypto2SideInfo& peer, unsigned headRoom,
                                        tesel::CBlob& out);
    // verifySignMessage of the signed data that signedData views.
    virtual unsigned verifySignData(const tesel::BLOB& signedData, CryptoHandle peerKey) const;
};

}  // namespace qn::crypto
