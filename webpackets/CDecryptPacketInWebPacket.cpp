#include "webpackets/CDecryptPacketInWebPacket.h"

#include <utility>

#include "errors/eErrCodes.h"
#include "transport/PacketProtection.h"
#include "transport/common/TransportHeader.h"

using namespace qn::http_transport;

CDecryptPacketInWebPacket::CDecryptPacketInWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), DECRYPT_PACKET_IN_ANSWER) {}

int CDecryptPacketInWebPacket::process(tesel::CBlob& reply) {
    tesel::CBlob packet;
    m_payload.deserialize(&packet);
    if (replyIfMalformed(reply)) return 0;

    KeyExchangeHeader header;
    tesel::CBlob plain;
    int r = decrypt(packet, plain, header);
    if (r == ERR_OK) {
        unsigned version = 0, senderVersion = 0;
        tesel::PackageType type{};
        tesel::eQuorinType requester{};
        r = readPermanentHeader(plain, version, type, requester, senderVersion);
        plain.moveOffset(0);
    }
    tesel::CBlob headerBytes;
    if (r == ERR_OK) r = header >> headerBytes;
    if (r != ERR_OK) {
        reply = codeAnswer(r);
        return 0;
    }
    tesel::CBlob answer = codeAnswer(ERR_OK, tesel::CBlob::sizeOf(headerBytes) + tesel::CBlob::sizeOf(plain));
    answer.serialize(&headerBytes);
    answer.serialize(&plain);
    reply = std::move(answer);
    return 0;
}
