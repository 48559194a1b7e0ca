#include "webpackets/CCreatePartnerCardWebPacket.h"

#include <utility>

#include "webpackets/ModulePartnerCard.h"

CCreatePartnerCardWebPacket::CCreatePartnerCardWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), CREATE_PARTNER_CARD_ANSWER) {}

int CCreatePartnerCardWebPacket::process(tesel::CBlob& reply) {
    std::string key;
    m_payload.deserialize(&key);
    if (replyIfMalformed(reply)) return 0;
    reply = codeAnswer(ModulePartnerCard::instance().createPartnerCard(key));
    return 0;
}
