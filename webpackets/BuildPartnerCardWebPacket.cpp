#include "webpackets/BuildPartnerCardWebPacket.h"

#include <utility>

#include "core/AppInfo.h"
#include "crypto/ControllerWebCrypto.h"
#include "errors/eErrCodes.h"
#include "transport/CRegisterClientCardRequest.h"
#include "webpackets/ModulePartnerCard.h"

BuildPartnerCardWebPacket::BuildPartnerCardWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), BUILD_PARTNER_CARD_ANSWER) {}

int BuildPartnerCardWebPacket::process(tesel::CBlob& reply) {
    std::string key;
    m_payload.deserialize(&key);
    if (replyIfMalformed(reply)) return 0;

    tesel::CBlob card;
    if (!ModulePartnerCard::instance().withPartnerCard(
            key, [&](CPacketClientCard& packet) { card = packet.getClient().PartnerInfoToBinary(); })) {
        reply = codeAnswer(ERR_INTERNAL);
        return 0;
    }
    int r = ERR_CSP_NOT_INITIALIZED;
    tesel::CBlob packet;
    if (card.isMalformed()) {
        r = ERR_CARD_EXPORT;
    } else if (const auto user = qn::crypto::ControllerWebCrypto::instance()->getCrypto_2001()) {
        CRegisterClientCardRequest request(card, *user);
        request.setSenderVersion(tesel::getVersion());
        r = request.build(packet);
        if (r != ERR_OK) packet.clear();
    }
    tesel::CBlob answer = codeAnswer(r);
    answer.append(packet);
    reply = std::move(answer);
    return 0;
}
