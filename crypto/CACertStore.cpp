#include "crypto/CACertStore.h"

#include <cstring>

#include "errors/eErrCodes.h"

namespace qn::crypto {

bool CACertStore::cmpByblob::operator()(const tesel::CBlob& a, const tesel::CBlob& b) const {
    if (a.getSize() != b.getSize()) {
        return a.getSize() < b.getSize();
    }
    if (a.getSize() == 0) {
        return false;
    }
    return std::memcmp(a.getData(), b.getData(), a.getSize()) > 0;
}

CACertStore& CACertStore::instance() {
    static CACertStore* store = new CACertStore();  // lives until the process ends
    return *store;
}

ControllerCACrypto& CACertStore::getCryptoModule(const tesel::CBlob& key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_modules.find(key);
    if (it == m_modules.end()) {
        it = m_modules.emplace(tesel::CBlob(key.getData(), key.getSize()), std::make_unique<ControllerCACrypto>())
                 .first;
    }
    return *it->second;
}

ControllerCACrypto* CACertStore::findCryptoModule(const tesel::CBlob& key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_modules.find(key);
    return it == m_modules.end() ? nullptr : it->second.get();
}

ControllerCACrypto* CACertStore::firstCryptoModule() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_modules.empty() ? nullptr : m_modules.begin()->second.get();
}

ControllerCACrypto& getCryptoModule(const tesel::CBlob& publicKey) {
    return CACertStore::instance().getCryptoModule(publicKey);
}

unsigned getCrypto(qn::http_transport::KeyExchangeHeader& header, Crypto1By1Connect& out) {
    CACertStore& store = CACertStore::instance();
    if (header.format == 2) {
        // Only keys the user prepared answer; an unknown recipient key is not
        // added to the store (packets from outside must not grow it).
        ControllerCACrypto* module = store.findCryptoModule(header.recipientPublicKey);
        if (!module || !module->isCryptoInit()) {
            return ERR_KEY_AGREEMENT;
        }
        out = *module->getCrypto();
        return out.importPublicKey2Side(header.senderPublicKey);
    }
    if (header.format == 1) {
        ControllerCACrypto* module = store.firstCryptoModule();
        if (!module || !module->isCryptoInit()) {
            return ERR_KEY_AGREEMENT;
        }
        out = *module->getCrypto();
        tesel::CBlob own;
        if (const unsigned r = out.getPublicKey(own)) {
            return r;
        }
        header.recipientPublicKey = own;
        header.format = 2;
        return out.importPublicKey2Side(header.senderPublicKey);
    }
    return ERR_INTERNAL;
}

}  // namespace qn::crypto
