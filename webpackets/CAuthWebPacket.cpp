#include "webpackets/CAuthWebPacket.h"

#include <memory>
#include <string>
#include <utility>

#include "app/Settings.h"
#include "crypto/ControllerPKIClient.h"
#include "crypto/ControllerWebCrypto.h"
#include "errors/eErrCodes.h"
#include "webpackets/BlobReply.h"

using qn::crypto::ControllerPKIClient;
using qn::crypto::ControllerWebCrypto;

CAuthWebPacket::CAuthWebPacket(tesel::CBlob payload) : CWebPacket(std::move(payload), AUTH_ANSWER) {}

int CAuthWebPacket::process(tesel::CBlob& reply) {
    auth(reply);
    return 0;
}

int CAuthWebPacket::auth(tesel::CBlob& reply) {
    unsigned index = 0;
    m_payload.deserialize(index);
    if (replyIfMalformed(reply)) return ERR_INTERNAL;
    tesel::CBlob signedMessage;
    const int r = static_cast<int>(authByCertificate(index, signedMessage));
    reply = r == ERR_OK ? blobAnswer(*this, ERR_OK, signedMessage) : codeAnswer(r);
    return r;
}

unsigned CAuthWebPacket::authByCertificate(unsigned index, tesel::CBlob& signedOut) {
    ControllerPKIClient& pki = ControllerPKIClient::instance();
    const qn::crypto::CertContextPtr cert = pki.getUserCert(index);
    if (!cert) return ERR_CERT_NOT_IN_STORE;

    ControllerWebCrypto& web = *ControllerWebCrypto::instance();
    if (const unsigned r = web.init(cert.get(), pki.getCertStore())) return r;
    // The selection follows the user connection: both name this certificate
    // from here on.
    pki.setUserCert(index);
    const std::shared_ptr<qn::crypto::Crypto1By1Connect> user = web.getCrypto_2001();
    if (!user) return ERR_CSP_NOT_INITIALIZED;

    const tesel::CBlob der(cert->pbCertEncoded, cert->cbCertEncoded);
    tesel::CBlob message(tesel::CBlob::sizeOf(der));
    message.serialize(&der);

    // A provider that cannot name its container leaves the current container
    // empty; the login itself does not depend on the name.
    std::string container;
    if (user->getUniqueContainer(container) != ERR_OK) container.clear();
    setCurrentCSP(user->getCSP());
    setCurrentContainer(container);

    tesel::CBlob signedMessage;
    if (const unsigned r = user->signMessage(message, signedMessage)) return r;
    signedOut = std::move(signedMessage);
    return ERR_OK;
}
