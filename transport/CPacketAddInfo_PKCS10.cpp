#include "transport/CPacketAddInfo_PKCS10.h"

int CPacketAddInfo_PKCS10::deserializeServerAnswer(tesel::CBlob* answer) { return deserialize(answer); }
