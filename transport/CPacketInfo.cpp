#include "transport/CPacketInfo.h"

int CPacketInfo::deserializeServerAnswer(tesel::CBlob*) { return 0; }
