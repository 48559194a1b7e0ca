#include "webpackets/CAuthWebPacket.h"

#include <memory>
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

    // Selection, CSP, container and key change together, and this login
    // signs with the key it opened, whatever another tab selects meanwhile.
    ControllerWebCrypto::UserSelection selected;
    const unsigned r = ControllerWebCrypto::instance()->selectUser(
        cert.get(), pki.getCertStore(),
        [&](const ControllerWebCrypto::UserSelection& s) {
            pki.setUserCert(index);
            setCurrentCSP(s.csp);
            setCurrentContainer(s.container);
        },
        &selected);
    if (r != ERR_OK) return r;
    if (!selected.connection) return ERR_CSP_NOT_INITIALIZED;

    const tesel::CBlob der(cert->pbCertEncoded, cert->cbCertEncoded);
    tesel::CBlob message(tesel::CBlob::sizeOf(der));
    message.serialize(&der);
    tesel::CBlob signedMessage;
    if (const unsigned s = selected.connection->signMessage(message, signedMessage)) return s;
    signedOut = std::move(signedMessage);
    return ERR_OK;
}
