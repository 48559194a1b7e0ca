#include "webpackets/CSetConvertPinWebPacket.h"

#include <utility>

#include "errors/eErrCodes.h"
#include "webpackets/ControllerClientQn.h"

CSetConvertPinWebPacket::CSetConvertPinWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), SET_CONVERT_PIN_ANSWER) {}

int CSetConvertPinWebPacket::process(tesel::CBlob& reply) {
    std::string pin;
    m_payload.deserialize(&pin);
    if (replyIfMalformed(reply)) return 0;
    ControllerClientQn::instance().setPin(pin);
    reply = codeAnswer(ERR_OK);
    return 0;
}
