#include "crypto/UserCspInfo.h"

namespace qn::crypto {

unsigned UserCspInfo::getSizeInBytes() const {
    return tesel::CBlob::sizeOfInt() + tesel::CBlob::sizeOf(m_cspVersion) + tesel::CBlob::sizeOf(m_label) +
           tesel::CBlob::sizeOf(m_manufacturer) + tesel::CBlob::sizeOf(m_model) +
           tesel::CBlob::sizeOf(m_serialNumber);
}

void UserCspInfo::operator>>(tesel::CBlob& out) const {
    out.allocate(getSizeInBytes());
    out.serialize(static_cast<int>(m_cspType));
    out.serialize(m_cspVersion);
    out.serialize(m_label);
    out.serialize(m_manufacturer);
    out.serialize(m_model);
    out.serialize(m_serialNumber);
}

bool UserCspInfo::operator<<(tesel::CBlob in) {
    in.moveOffset(0);
    int type = 0;
    UserCspInfo read;
    in.deserialize(type);
    in.deserialize(&read.m_cspVersion);
    in.deserialize(&read.m_label);
    in.deserialize(&read.m_manufacturer);
    in.deserialize(&read.m_model);
    in.deserialize(&read.m_serialNumber);
    if (in.isMalformed()) {
        return false;
    }
    read.m_cspType = static_cast<eSupportCP>(type);
    *this = std::move(read);
    return true;
}

}  // namespace qn::crypto
