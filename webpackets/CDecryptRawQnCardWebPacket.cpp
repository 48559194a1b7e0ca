#include "webpackets/CDecryptRawQnCardWebPacket.h"

#include <utility>

#include "errors/eErrCodes.h"
#include "transport/AddInfoClientCard.h"
#include "transport/AddInfoProlongKey.h"
#include "transport/PacketProtection.h"
#include "transport/PayloadReaders.h"
#include "transport/common/TransportHeader.h"
#include "webpackets/BlobReply.h"

CDecryptRawQnCardWebPacket::CDecryptRawQnCardWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), DECRYPT_RAW_QN_CARD_ANSWER) {}

int CDecryptRawQnCardWebPacket::process(tesel::CBlob& reply) {
    tesel::CBlob packet;
    m_payload.deserialize(&packet);
    if (replyIfMalformed(reply)) return 0;
    tesel::CBlob card;
    const int r = decryptClientCard(packet, card);
    reply = r == ERR_OK ? blobAnswer(*this, ERR_OK, card) : codeAnswer(r);
    return 0;
}

int CDecryptRawQnCardWebPacket::decryptClientCard(const tesel::CBlob& packet, tesel::CBlob& card) {
    tesel::CBlob plain;
    if (const int r = qn::http_transport::decrypt(packet, plain)) return r;
    unsigned version = 0, senderVersion = 0;
    tesel::PackageType type{};
    tesel::eQuorinType requester{};
    if (const int r = qn::http_transport::readPermanentHeader(plain, version, type, requester, senderVersion))
        return r;

    if (type == tesel::PT_CLIENT_CARD) {
        AddInfoClientCard info;
        if (const int r = parsePartnerClientCard(plain, info)) return r;
        card = info.client.PartnerInfoToBinary2();
    } else if (type == tesel::PT_PROLONG) {
        AddInfoProlongKey info;
        if (const int r = parseProlongClientCard(plain, static_cast<int>(version), info)) return r;
        card = info.client.PartnerInfoToBinary2();
    } else {
        card.clear();
    }
    return ERR_OK;
}
