// The process-wide store of the user's keys prepared for the CA exchange,
// by public key blob, and the lookup of the keys a transport packet is
// addressed to.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "core/CBlob.h"
#include "crypto/ControllerCACrypto.h"
#include "transport/common/KeyExchangeHeader.h"

namespace qn::crypto {

class CACertStore {
public:
    // Shorter blobs first; blobs of equal length by descending bytes.
    struct cmpByblob {
        bool operator()(const tesel::CBlob& a, const tesel::CBlob& b) const;
    };

    static CACertStore& instance();

    // The controller stored under key; a new uninitialised one is inserted
    // when there is none. Controllers live until the process ends.
    ControllerCACrypto& getCryptoModule(const tesel::CBlob& key);
    // The controller under key, or null; nothing is inserted.
    ControllerCACrypto* findCryptoModule(const tesel::CBlob& key);
    // The first controller in the store's order, or null when it is empty.
    ControllerCACrypto* firstCryptoModule();

private:
    CACertStore() = default;
    std::mutex m_mutex;
    std::map<tesel::CBlob, std::unique_ptr<ControllerCACrypto>, cmpByblob> m_modules;
};

ControllerCACrypto& getCryptoModule(const tesel::CBlob& publicKey);

// Prepares out for the keys that header addresses: format 2 by the
// recipient public key, format 1 by the store's first key (the header is
// then rewritten to format 2 with that key as recipient); the header's
// sender key is imported as the peer. 8 when the store holds no prepared
// key for the header, 1 for an unknown format.
unsigned getCrypto(qn::http_transport::KeyExchangeHeader& header, Crypto1By1Connect& out);

}  // namespace qn::crypto
