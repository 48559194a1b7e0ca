// One user key paired with one peer key: the unit with which packets are
// signed, encrypted, decrypted and verified.
//
// The peer key and agreed key handles that importPublicKey2Side creates are
// held by one shared record together with the provider that made them. A
// connection and its copies share that record; the handles go back to the
// provider when the last of them lets go (a replaced pairing of one
// connection is released at once when no copy still uses it).
//
// Connections are used by several web commands at once: the operations that
// read or rewrite the pairing are serialised on the connection, and the use
// of the shared agreed key (whose IV state an encryption changes) is
// serialised on its record, across copies too.
#pragma once

#include <memory>
#include <mutex>
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
    // Pairs the connection with a peer key. On failure the pairing stays as
    // it was and whatever the attempt made is given back.
    unsigned importPublicKey2Side(const tesel::CBlob& peerKey);
    unsigned importPublicKey2Side(const tesel::CBlob& peerKey, const tesel::CBlob& certSN);
    unsigned encryptMessage(const tesel::CBlob& plain, tesel::CBlob& out);
    unsigned decryptMessage(const tesel::CBlob& packet, tesel::CBlob& out);
    unsigned verifySignMessage(const tesel::CBlob& signedData) const;
    // The same on views of the caller's bytes and into the caller's buffers
    // (see CryptoProviderQn): the message or the plain text at headRoom of
    // out.
    unsigned encryptMessageInto(const tesel::BLOB& plain, unsigned headRoom, unsigned tailRoom, tesel::CBlob& out);
    unsigned decryptMessageInto(const tesel::BLOB& message, unsigned headRoom, tesel::CBlob& out);
    unsigned verifySignData(const tesel::BLOB& signedData) const;
    Crypto2SideInfo get2SideInfo() const;

    using Crypto::decryptMessage;
    using Crypto::decryptMessageInto;
    using Crypto::encryptMessage;
    using Crypto::encryptMessageInto;
    using Crypto::importPublicKey2Side;
    using Crypto::verifySignData;
    using Crypto::verifySignMessage;

private:
    struct PeerKeys;

    // The connection's pairing, guarded by m_mutex.
    Crypto2SideInfo m_side;
    std::shared_ptr<PeerKeys> m_keys;
    mutable std::mutex m_mutex;
};

}  // namespace qn::crypto
