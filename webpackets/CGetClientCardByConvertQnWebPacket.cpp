#include "webpackets/CGetClientCardByConvertQnWebPacket.h"

#include <utility>

#include "client/CClient.h"
#include "errors/eErrCodes.h"
#include "pki/eEnhKeyOID.h"
#include "transport/CHttpGetCSPByConvertId.h"
#include "transport/CHttpGetPacketOutByConvertId.h"
#include "transport/TransportServer.h"
#include "webpackets/ControllerClientQn.h"

namespace {

// The envelope's card from the transport server: its CSP kind first, then
// the card packet opened with that kind.
int fetchEnvelopeCard(const std::string& id, tesel::CClient& card) {
    if (const int r = tesel::checkConvert(id)) return r;
    CHttpGetCSPByConvertId cspRequest(id);
    if (const int r = getTransportServer().send(cspRequest)) return r;
    qn::crypto::eSupportCP kind = qn::crypto::CP_NONE;
    if (const int r = cspRequest.decode(kind)) return r;
    CHttpGetPacketOutByConvertId cardRequest(id);
    if (const int r = getTransportServer().send(cardRequest)) return r;
    tesel::CBlob bytes;
    if (const int r = cardRequest.decode(bytes, kind)) return r;
    bool converted = false;
    if (const int r = card.BinaryToPartnerInfo(&bytes, converted)) return r;
    for (const tesel::eEnhKeyOID oid : card.getAddOids()) {
        if (oid >= 0 && oid < tesel::kEnhKeyCount) card.addEnhOid(tesel::eEnhKeyString[oid]);
    }
    return 0;
}

}  // namespace

CGetClientCardByConvertQnWebPacket::CGetClientCardByConvertQnWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), GET_CLIENT_CARD_BY_CONVERT_QN_ANSWER) {}

int CGetClientCardByConvertQnWebPacket::process(tesel::CBlob& reply) {
    std::string id;
    m_payload.deserialize(&id);
    if (replyIfMalformed(reply)) return 0;

    tesel::CClient card;
    if (const int r = fetchEnvelopeCard(id, card)) {
        reply = codeAnswer(r);
        return 0;
    }
    ControllerClientQn::instance().setClientInfo(card);
    const tesel::CBlob web = card.PartnerInfoToBinary2();
    tesel::CBlob answer = codeAnswer(ERR_OK, tesel::CBlob::sizeOfInt());
    answer.serialize(static_cast<unsigned>(ERR_OK));
    answer.append(web);
    if (web.isMalformed() || answer.isMalformed()) {
        reply = codeAnswer(ERR_CARD_EXPORT);
        return 0;
    }
    reply = std::move(answer);
    return 0;
}
