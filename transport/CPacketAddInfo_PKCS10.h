// A CA packet whose answer is a released certificate.
#pragma once

#include "transport/CPacketInfo.h"
#include "transport/CPacket_PKCS10_Base.h"

class CPacketAddInfo_PKCS10 : public CPacketInfo, public CPacket_PKCS10_Base {
public:
    // Response and certificate.
    int deserializeServerAnswer(tesel::CBlob* answer) override;
};
