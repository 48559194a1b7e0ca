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

unsigned CryptoProviderQn::encryptMessageInto(const tesel::BLOB& plain, Crypto2SideInfo& peer, unsigned headRoom,
                                              unsigned tailRoom, tesel::CBlob& out) {
    tesel::CBlob message;
    if (const unsigned r = encryptMessage(tesel::CBlob(&plain), peer, message)) return r;
    tesel::CBlob result(headRoom + message.getSize() + tailRoom);
    std::memcpy(result.getData() + headRoom, message.getData(), message.getSize());
    out = std::move(result);
    return ERR_OK;
}

unsigned CryptoProviderQn::decryptMessageInto(const tesel::BLOB& message, Crypto2SideInfo& peer, unsigned headRoom,
                                              tesel::CBlob& out) {
    tesel::CBlob plain;
    if (const unsigned r = decryptMessage(tesel::CBlob(&message), peer, plain)) return r;
    if (headRoom == 0) {
        out = std::move(plain);
        return ERR_OK;
    }
    tesel::CBlob result(headRoom + plain.getSize());
    if (plain.getSize() > 0) std::memcpy(result.getData() + headRoom, plain.getData(), plain.getSize());
    out = std::move(result);
    return ERR_OK;
}

unsigned CryptoProviderQn::verifySignData(const tesel::BLOB& signedData, CryptoHandle peerKey) const {
    return verifySignMessage(tesel::CBlob(&signedData), peerKey);
}

}  // namespace qn::crypto
