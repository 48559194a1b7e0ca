#include "crypto/ControllerCACrypto.h"

#include "errors/eErrCodes.h"

namespace qn::crypto {

unsigned ControllerCACrypto::initByUserCert(const CERT_CONTEXT* cert, tesel::eCertStore store) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_init = false;
    }
    Crypto1By1Connect* raw = nullptr;
    const unsigned r = Crypto1By1Connect::init(cert, store, &raw);
    std::shared_ptr<Crypto1By1Connect> connection(raw);
    if (r != ERR_OK) {
        return r;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_crypto = std::move(connection);
    m_init = true;
    return ERR_OK;
}

void ControllerCACrypto::setCrypto(Crypto1By1Connect* connection) {
    std::shared_ptr<Crypto1By1Connect> owned(connection);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_crypto = owned ? std::move(owned) : std::make_shared<Crypto1By1Connect>();
    m_init = true;
}

std::shared_ptr<Crypto1By1Connect> ControllerCACrypto::getCrypto() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_crypto;
}

bool ControllerCACrypto::isCryptoInit() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_init;
}

}  // namespace qn::crypto
