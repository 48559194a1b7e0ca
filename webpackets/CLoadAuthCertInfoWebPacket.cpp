#include "webpackets/CLoadAuthCertInfoWebPacket.h"

#include "client/CClient.h"
#include "crypto/ControllerPKIClient.h"
#include "errors/eErrCodes.h"
#include "transport/ControllerBaseClient.h"
#include "webpackets/BlobReply.h"

CLoadAuthCertInfoWebPacket::CLoadAuthCertInfoWebPacket() : CWebPacket(LOAD_AUTH_CERT_INFO_ANSWER, 1) {}

int CLoadAuthCertInfoWebPacket::process(tesel::CBlob& reply) {
    const qn::crypto::CertContextPtr cert = qn::crypto::ControllerPKIClient::instance().getUserCert();
    if (!cert) {
        reply = codeAnswer(ERR_ADD_YOUR_CERTIFICATE);
        return 0;
    }
    // loadCardFromCert keeps no state of the controller: a plain one will do.
    const ControllerBaseClient reader;
    tesel::CClient card;
    const unsigned r = reader.loadCardFromCert(cert.get(), card);
    reply = r == ERR_OK ? blobAnswer(*this, ERR_OK, card.PartnerInfoToBinary2()) : codeAnswer(static_cast<int>(r));
    return 0;
}
