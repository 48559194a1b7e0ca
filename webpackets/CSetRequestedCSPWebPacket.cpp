#include "webpackets/CSetRequestedCSPWebPacket.h"

#include <utility>

#include "app/Settings.h"
#include "crypto/CspAlgorithms.h"
#include "errors/eErrCodes.h"
#include "webpackets/CardSelector.h"

CSetRequestedCSPWebPacket::CSetRequestedCSPWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), SET_REQUESTED_CSP_ANSWER) {}

int CSetRequestedCSPWebPacket::process(tesel::CBlob& reply) {
    std::string key;
    unsigned type = 0;
    int kind = 0;
    m_payload.deserialize(&key);
    m_payload.deserialize(type);
    m_payload.deserialize(kind);
    if (replyIfMalformed(reply)) return 0;

    const auto csp = static_cast<qn::crypto::eSupportCP>(kind);
    // The settings take the kind whatever the card selector says.
    setRequestedCSP(qn::crypto::convertToGost2012(csp));
    const bool found = editSelectedCard(key, static_cast<tesel::PackageType>(type),
                                        {tesel::PT_CLIENT_CARD, tesel::PT_KA_CARD, tesel::PT_PROLONG},
                                        [&](tesel::CClient& card, CPacket_PKCS10_Client_Base* packet) {
                                            if (packet) packet->setCSP(csp);
                                            card.setCSP(csp);
                                        });
    reply = codeAnswer(found ? ERR_OK : ERR_INTERNAL);
    return 0;
}
