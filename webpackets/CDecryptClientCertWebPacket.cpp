#include "webpackets/CDecryptClientCertWebPacket.h"

#include <utility>

#include "core/TextConvert.h"
#include "errors/eErrCodes.h"
#include "transport/CPacket_PKCS10_Client.h"
#include "transport/common/TransportHeader.h"
#include "webpackets/ControllerClientQn.h"

CDecryptClientCertWebPacket::CDecryptClientCertWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), DECRYPT_CLIENT_CERT_ANSWER) {}

int CDecryptClientCertWebPacket::process(tesel::CBlob& reply) {
    std::string container;
    int kind = 0;
    tesel::CBlob packet;
    m_payload.deserialize(&container);
    m_payload.deserialize(kind);
    m_payload.deserialize(&packet);
    if (replyIfMalformed(reply)) return 0;

    tesel::CBlob certificate;
    tesel::eClientResponse response{};
    const int r = getReleasedCert(packet, tesel::convertFromUTF8(container), static_cast<qn::crypto::eSupportCP>(kind),
                                  certificate, response);
    if (r != ERR_OK) {
        reply = codeAnswer(r);
        return 0;
    }
    tesel::CBlob answer = codeAnswer(ERR_OK, tesel::CBlob::sizeOfInt() + tesel::CBlob::sizeOf(certificate));
    answer.serialize(static_cast<unsigned>(response));
    answer.serialize(&certificate);
    reply = std::move(answer);
    return 0;
}

int CDecryptClientCertWebPacket::getReleasedCert(const tesel::CBlob& packet, const std::string& container,
                                                 qn::crypto::eSupportCP kind, tesel::CBlob& certificate,
                                                 tesel::eClientResponse& response) {
    tesel::CBlob plain;
    if (const unsigned r = ControllerClientQn::instance().decryptReleasedCert(packet, container, kind, plain))
        return static_cast<int>(r);
    unsigned version = 0, senderVersion = 0;
    tesel::PackageType type{};
    tesel::eQuorinType requester{};
    if (const int r = qn::http_transport::readPermanentHeader(plain, version, type, requester, senderVersion))
        return r;
    tesel::CBlob body;
    plain.deserialize(&body);
    if (plain.isMalformed()) return ERR_PACKET_DAMAGED;
    body.moveOffset(0);
    CPacket_PKCS10_Client answer;
    if (const int r = answer.deserializeServerAnswer(&body)) return r;
    certificate = answer.getUserCert();
    response = answer.getResponse();
    return ERR_OK;
}
