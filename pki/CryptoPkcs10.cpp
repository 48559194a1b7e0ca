// Signing a certification request with the held provider. It belongs to
// qn::crypto::Crypto but is compiled with the request builder, so that the
// provider library does not depend on the certificate library above it.
#include <cstring>

#include "crypto/Crypto.h"
#include "crypto/CspAlgorithms.h"
#include "errors/eErrCodes.h"
#include "pki/RequestPKCS10.h"

namespace qn::crypto {

unsigned Crypto::signAndEncodePkcs10(tesel::RequestPKCS10* request, tesel::CBlob& out) const {
    out.clear();
    if (request == nullptr) {
        return ERR_INTERNAL;
    }
    tesel::CBlob publicKey;
    unsigned r = getPublicKeyBlob(publicKey);
    if (r != ERR_OK) {
        return r;
    }
    const unsigned sigSize = getSzSign();
    // The builder reserves the kind's signature size; a provider whose
    // signatures differ in size could not fill the placeholder exactly.
    if (sigSize == 0 || sigSize != getSignSize(getCSP())) {
        return ERR_BUILD_CERT_REQUEST;
    }
    tesel::CBlob encoded;
    tesel::CBlob toBeSigned;
    const int built = request->createCSR(getCSP(), publicKey.getBLOB(), encoded, toBeSigned);
    if (built != 0) {
        return static_cast<unsigned>(built);
    }
    tesel::CBlob signedData;
    r = signMessage(toBeSigned, signedData);
    if (r != ERR_OK) {
        return r;
    }
    if (signedData.getSize() != toBeSigned.getSize() + sigSize || encoded.getSize() < sigSize) {
        return ERR_SIGN;
    }
    // The provider gives the signature in CryptoAPI byte order; the request
    // carries it the other way round.
    unsigned char* signature = encoded.getData() + encoded.getSize() - sigSize;
    std::memcpy(signature, signedData.getData() + toBeSigned.getSize(), sigSize);
    tesel::BLOB reversed{sigSize, signature};
    convertToRevertEndian(reversed);
    out = std::move(encoded);
    return ERR_OK;
}

}  // namespace qn::crypto
