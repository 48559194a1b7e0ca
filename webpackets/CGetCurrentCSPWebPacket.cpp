#include "webpackets/CGetCurrentCSPWebPacket.h"

#include <utility>

#include "app/Settings.h"
#include "errors/eErrCodes.h"

CGetCurrentCSPWebPacket::CGetCurrentCSPWebPacket() : CWebPacket(GET_CURRENT_CSP_ANSWER, 1) {}

int CGetCurrentCSPWebPacket::process(tesel::CBlob& reply) {
    tesel::CBlob answer = codeAnswer(ERR_OK, tesel::CBlob::sizeOfInt());
    answer.serialize(static_cast<int>(getCurrentCSP()));
    reply = std::move(answer);
    return 0;
}
