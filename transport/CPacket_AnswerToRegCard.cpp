#include "transport/CPacket_AnswerToRegCard.h"

#include "errors/eErrCodes.h"

int CPacket_AnswerToRegCard::deserialize(tesel::CBlob* answer) {
    if (!answer) return ERR_PACKET_DAMAGED;
    unsigned response = 0;
    std::string message;
    *answer >> response >> &message;
    if (answer->isMalformed()) return ERR_PACKET_DAMAGED;
    m_response = static_cast<tesel::ePartnerResponse>(response);
    m_message = std::move(message);
    return ERR_OK;
}
