// Command 50: fills a legal entity's card from the state register. Payload:
// INN (string), subject type (u32). The reply (51) carries a u32 byte count
// and fifteen strings in UTF-8 (KPP, house, region, flat, city, settlement,
// street, building, head's surname, patronymic, position and first name,
// OGRN, full and short name); for another kind or an INN that is not 10
// characters it is a bare success and nothing is looked up. The region is
// checked against the address classifier: when that lookup fails the
// connection is closed without a reply.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CEgrulInfoWebPacket : public CWebPacket {
public:
    static constexpr unsigned kInnLength = 10;

    explicit CEgrulInfoWebPacket(tesel::CBlob payload);
    int process(tesel::CBlob& reply) override;
};
