#include "crypto/UserCerts.h"

#include <memory>

#include "crypto/CryptoApi.h"
#include "crypto/CryptoP11.h"
#include "errors/eErrCodes.h"

namespace qn::crypto {

unsigned loadUserCerts(tesel::eCertStore store, std::map<unsigned, const CERT_CONTEXT*>& certs) {
    if (store == tesel::CERT_STORE_SYSTEM) {
        return CryptoApi::getCertList(certs);
    }
    if (store == tesel::CERT_STORE_JACARTA || store == tesel::CERT_STORE_RUTOKEN) {
        // A session on the token, for the listing only.
        CryptoP11* raw = nullptr;
        const unsigned r =
            CryptoP11::init(store == tesel::CERT_STORE_JACARTA ? CP_JACARTA_GOST2012_256 : CP_RUTOKEN_GOST, &raw);
        std::unique_ptr<CryptoP11> provider(raw);
        if (r != ERR_OK) {
            return r;
        }
        return CryptoP11::getCertList(certs, provider.get());
    }
    return ERR_INTERNAL;
}

}  // namespace qn::crypto
