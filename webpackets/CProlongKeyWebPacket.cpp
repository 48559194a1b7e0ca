#include "webpackets/CProlongKeyWebPacket.h"

#include "errors/eErrCodes.h"
#include "webpackets/ControllerWebPackets.h"

CProlongKeyWebPacket::CProlongKeyWebPacket() : CWebPacket(PROLONG_KEY_ANSWER, 1) {}

int CProlongKeyWebPacket::process(tesel::CBlob& reply) {
    // A failure is not answered: its code closes the connection.
    if (const unsigned r = ControllerWebPackets::instance().createProlongKeyPacket()) return static_cast<int>(r);
    reply = codeAnswer(ERR_OK);
    return 0;
}
