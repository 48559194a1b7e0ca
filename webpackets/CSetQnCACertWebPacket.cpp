#include "webpackets/CSetQnCACertWebPacket.h"

#include <utility>

#include "crypto/CACertStore.h"
#include "crypto/ControllerPKIClient.h"
#include "crypto/CryptoBase.h"
#include "errors/eErrCodes.h"

using namespace qn::crypto;

CSetQnCACertWebPacket::CSetQnCACertWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), SET_QN_CA_CERT_ANSWER) {}

int CSetQnCACertWebPacket::process(tesel::CBlob& reply) {
    unsigned index = 0;
    unsigned unused = 0;
    m_payload.deserialize(index);
    m_payload.deserialize(unused);
    if (replyIfMalformed(reply)) return 0;

    const CertContextPtr cert = getCACertificate(index);
    if (!cert) {
        reply = codeAnswer(ERR_CERT_NOT_IN_STORE);
        return 0;
    }
    tesel::CBlob publicKey;
    unsigned r = CryptoBase::publicKeyInfoFromCert(cert.get(), publicKey);
    if (r == ERR_OK) {
        r = getCryptoModule(publicKey).initByUserCert(cert.get(), ControllerPKIClient::instance().getCertStore());
    }
    reply = codeAnswer(static_cast<int>(r));
    return 0;
}
