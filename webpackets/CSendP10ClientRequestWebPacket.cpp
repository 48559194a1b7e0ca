#include "webpackets/CSendP10ClientRequestWebPacket.h"

#include <utility>

#include "core/TextConvert.h"
#include "errors/eErrCodes.h"
#include "webpackets/ControllerClientQn.h"

CSendP10ClientRequestWebPacket::CSendP10ClientRequestWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), SEND_P10_CLIENT_REQUEST_ANSWER) {}

int CSendP10ClientRequestWebPacket::process(tesel::CBlob& reply) {
    std::string container;
    m_payload.deserialize(&container);
    if (replyIfMalformed(reply)) return 0;
    container = tesel::convertFromUTF8(container);

    // Every step works on the connection this command made and on one copy
    // of the card, whatever other connections do meanwhile.
    ControllerClientQn& controller = ControllerClientQn::instance();
    const tesel::CClient card = controller.getClientInfo();
    ControllerClientQn::Connection connection;
    unsigned r = controller.createCrypto(container, card, &connection);
    tesel::CBlob p10;
    tesel::CBlob packet;
    if (r == ERR_OK) r = controller.buildCreateClientP10Packet(connection, card, p10);
    if (r == ERR_OK) r = controller.buildPkcs10QnRequest(connection, card, p10, controller.getPin(), packet);
    std::string unique;
    if (r == ERR_OK) r = ControllerClientQn::getContainerFullPath(connection, unique);
    if (r != ERR_OK) {
        reply = codeAnswer(static_cast<int>(r));
        return 0;
    }
    const std::string uniqueUtf8 = tesel::convertToUTF8(unique);
    tesel::CBlob answer = codeAnswer(ERR_OK, tesel::CBlob::sizeOf(card.getConvertId()) + tesel::CBlob::sizeOfInt() +
                                                 tesel::CBlob::sizeOf(uniqueUtf8) + tesel::CBlob::sizeOf(packet));
    answer.serialize(card.getConvertId());
    answer.serialize(static_cast<int>(card.getCSP()));
    answer.serialize(uniqueUtf8);
    answer.serialize(&packet);
    reply = std::move(answer);
    return 0;
}
