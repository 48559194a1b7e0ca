#include "crypto/CryptoProviderQn.h"

#include <cstring>

#include "errors/eErrCodes.h"

namespace qn::crypto {

unsigned CryptoProviderQn::signData(const unsigned char* data, unsigned n, unsigned char* signature) const {
    tesel::CBlob signedData;
    if (const unsigned r = signMessage(tesel::CBlob(data, n), signedData)) return r;
    const unsigned size = getSzSign();
    if (signedData.getSize() != n + size) return ERR_SIGN;
    std::memcpy(signature, signedData.getData() + n, size);
    return ERR_OK;
}

unsigned CryptoProviderQn::encryptMessageInto(const tesel::CBlob& plain, Crypto2SideInfo& peer, unsigned headRoom,
                                              unsigned tailRoom, tesel::CBlob& out) {
    tesel::CBlob message;
    if (const unsigned r = encryptMessage(plain, peer, message)) return r;
    tesel::CBlob result(headRoom + message.getSize() + tailRoom);
    std::memcpy(result.getData() + headRoom, message.getData(), message.getSize());
    out = std::move(result);
    return ERR_OK;
}

unsigned CryptoProviderQn::decryptMessageAt(const tesel::CBlob& message, unsigned from, unsigned n,
                                            Crypto2SideInfo& peer, tesel::CBlob& out) {
    return decryptMessage(tesel::CBlob(message.getData() + from, n), peer, out);
}

}  // namespace qn::crypto
