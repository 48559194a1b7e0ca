#include "crypto/UserCerts.h"

#include "crypto/CryptoApi.h"
#include "errors/eErrCodes.h"

namespace qn::crypto {

unsigned loadUserCerts(tesel::eCertStore store, std::map<unsigned, const CERT_CONTEXT*>& certs) {
    if (store == tesel::CERT_STORE_SYSTEM) {
        return CryptoApi::getCertList(certs);
    }
    return ERR_INTERNAL;
}

}  // namespace qn::crypto
