#include "transport/PayloadReaders.h"

#include "errors/eErrCodes.h"

using tesel::CBlob;

int parseProlongClientCard(CBlob& payload, int version, AddInfoProlongKey& out) {
    CBlob userCert, card, pkcs10, cspBlob;
    payload >> &userCert >> &card >> &pkcs10;
    if (version > 1) payload >> &cspBlob;
    if (payload.isMalformed()) return ERR_PACKET_DAMAGED;

    AddInfoProlongKey read = out;
    card.moveOffset(0);
    bool converted = false;
    if (const int r = read.client.BinaryToPartnerInfo(&card, converted)) return r;
    if (version > 1) {
        cspBlob.moveOffset(0);
        if (!(read.cspInfo << cspBlob)) return ERR_PACKET_DAMAGED;
    }
    userCert.moveOffset(0);
    pkcs10.moveOffset(0);
    read.userCert = std::move(userCert);
    read.pkcs10 = std::move(pkcs10);
    out = std::move(read);
    return ERR_OK;
}

int parsePartnerClientCard(CBlob& payload, AddInfoClientCard& out) {
    CBlob card;
    payload >> &card;
    if (payload.isMalformed()) return ERR_PACKET_DAMAGED;
    card.moveOffset(0);
    bool converted = false;
    return out.client.BinaryToPartnerInfo(&card, converted);
}
