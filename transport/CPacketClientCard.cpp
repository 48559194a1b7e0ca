#include "transport/CPacketClientCard.h"

CPacketClientCard::CPacketClientCard() { setPackageType(tesel::PT_CLIENT_CARD); }

int CPacketClientCard::deserializeServerAnswer(tesel::CBlob* answer) { return deserialize(answer); }
