// The answer part of a partner's client card registration: the CA's
// response and its message (CP1251).
#pragma once

#include <string>

#include "core/CBlob.h"
#include "transport/eClientResponse.h"

class CPacket_AnswerToRegCard {
public:
    tesel::ePartnerResponse getResponse() const { return m_response; }
    void setResponse(tesel::ePartnerResponse response) { m_response = response; }
    const std::string& getMessage() const { return m_message; }
    void setMessage(const std::string& message) { m_message = message; }
    bool isResponsed() const { return m_response != tesel::PARTNER_RESPONSE_NONE; }

    // Response (u32) and message (string) at the cursor. 0, or 20 when they
    // run past the end; nothing is changed then.
    int deserialize(tesel::CBlob* answer);

private:
    tesel::ePartnerResponse m_response = tesel::PARTNER_RESPONSE_NONE;
    std::string m_message;
};
