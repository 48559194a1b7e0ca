#include "webpackets/CSaveClientCardWebPacket.h"

#include "errors/eErrCodes.h"
#include "webpackets/ControllerWebPackets.h"

CSaveClientCardWebPacket::CSaveClientCardWebPacket() : CWebPacket(SAVE_CLIENT_CARD_ANSWER, 1) {}

int CSaveClientCardWebPacket::process(tesel::CBlob& reply) {
    tesel::CBlob card;
    const bool found = ControllerWebPackets::instance().withCurrentClientPacket(
        [&](CPacket_PKCS10_Client_Base& packet) { card = packet.getClient().PartnerInfoToBinary(); });
    // Without a current packet there is no card to save.
    reply = codeAnswer(found && !card.isMalformed() ? ERR_OK : ERR_INTERNAL);
    return 0;
}
