// One of the user's keys prepared for the CA exchange: a connection opened
// from the user's certificate. Safe to use from several threads.
#pragma once

#include <memory>
#include <mutex>

#include "crypto/Crypto1By1Connect.h"

namespace qn::crypto {

class ControllerCACrypto {
public:
    // Opens the certificate's key; on success it becomes the connection. On
    // failure the previous connection stays, but the controller counts as
    // not initialised until a later success.
    unsigned initByUserCert(const CERT_CONTEXT* cert, tesel::eCertStore store);
    // Takes ownership of connection and marks the controller initialised.
    void setCrypto(Crypto1By1Connect* connection);
    std::shared_ptr<Crypto1By1Connect> getCrypto() const;
    bool isCryptoInit() const;

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<Crypto1By1Connect> m_crypto = std::make_shared<Crypto1By1Connect>();
    bool m_init = false;
};

}  // namespace qn::crypto
