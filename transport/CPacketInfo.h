// A CA packet record with its package type and a status of its own.
#pragma once

#include "transport/CPacketBaseInfo.h"
#include "transport/ISerializer.h"
#include "transport/common/PackageType.h"

class CPacketInfo : public CPacketBaseInfo, public ISerializer {
public:
    // A record without an answer format of its own reads nothing.
    int deserializeServerAnswer(tesel::CBlob* answer) override;

    tesel::PackageType getPackageType() const { return m_packageType; }
    void setPackageType(tesel::PackageType type) { m_packageType = type; }
    unsigned getStatus() const { return m_status; }
    void setStatus(unsigned status) { m_status = status; }

private:
    tesel::PackageType m_packageType = tesel::PT_UNDEFINED;
    unsigned m_status = 0;
};
