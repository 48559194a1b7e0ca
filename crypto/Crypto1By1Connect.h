// One user key paired with one peer key: the unit with which packets are
// signed, encrypted, decrypted and verified.
//
// The peer key and agreed key handles that a connection creates through
// importPublicKey2Side are its own: it gives them back to the provider when
// they are replaced and when it is destroyed. A copy shares the provider and
// the side information but owns none of those handles.
#pragma once

#include <vector>

#include "crypto/Crypto.h"
#include "crypto/Crypto2SideInfo.h"

namespace qn::crypto {

class Crypto1By1Connect : public Crypto {
public:
    Crypto1By1Connect() = default;
    Crypto1By1Connect(const Crypto1By1Connect& other);
    Crypto1By1Connect& operator=(const Crypto1By1Connect& other);
    ~Crypto1By1Connect() override;

    // Factories: the new object goes to *out first, then the Crypto step runs.
    static unsigned init(eSupportCP kind, Crypto1By1Connect** out);
    static unsigned init(const std::string& container, eSupportCP kind, Crypto1By1Connect** out);
    static unsigned init(const CERT_CONTEXT* cert, tesel::eCertStore store, Crypto1By1Connect** out);
    static unsigned create(const std::string& container, eSupportCP kind, Crypto1By1Connect** out);
    static unsigned remove(const std::string& container, eSupportCP kind);

    unsigned getPublicKey(tesel::CBlob& out) const;
    unsigned importPublicKey2Side(const tesel::CBlob& peerKey);
    unsigned importPublicKey2Side(const tesel::CBlob& peerKey, const tesel::CBlob& certSN);
    unsigned encryptMessage(const tesel::CBlob& plain, tesel::CBlob& out);
    unsigned decryptMessage(const tesel::CBlob& packet, tesel::CBlob& out);
    unsigned verifySignMessage(const tesel::CBlob& signedData) const;
    // The same inside the caller's buffers (see CryptoProviderQn): the
    // message at headRoom of out; the message in n bytes at from of packet.
    unsigned encryptMessageInto(const tesel::CBlob& plain, unsigned headRoom, unsigned tailRoom, tesel::CBlob& out);
    unsigned decryptMessageAt(const tesel::CBlob& packet, unsigned from, unsigned n, tesel::CBlob& out);
    Crypto2SideInfo get2SideInfo() const { return m_side; }

    using Crypto::decryptMessage;
    using Crypto::decryptMessageAt;
    using Crypto::encryptMessage;
    using Crypto::encryptMessageInto;
    using Crypto::importPublicKey2Side;
    using Crypto::verifySignMessage;

private:
    void releaseOwned(const Crypto2SideInfo* keepFrom);

    Crypto2SideInfo m_side;
    std::vector<CryptoHandle> m_owned;
    std::shared_ptr<CryptoProviderQn> m_ownedBy;  // the provider that made m_owned
};

}  // namespace qn::crypto
