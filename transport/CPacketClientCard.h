// A partner's client card (package type 1) and the CA's answer to its
// registration: response and message.
#pragma once

#include "client/CClient.h"
#include "transport/CPacketInfo.h"
#include "transport/CPacket_AnswerToRegCard.h"

class CPacketClientCard : public CPacketInfo, public CPacket_AnswerToRegCard {
public:
    CPacketClientCard();

    tesel::CClient& getClient() { return m_client; }
    const tesel::CClient& getClient() const { return m_client; }

    int deserializeServerAnswer(tesel::CBlob* answer) override;

private:
    tesel::CClient m_client;
};
