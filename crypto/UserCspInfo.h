// Description of the provider in use, for the web page.
#pragma once

#include <string>

#include "core/CBlob.h"
#include "crypto/eSupportCP.h"

namespace qn::crypto {

class UserCspInfo {
public:
    eSupportCP getCspType() const { return m_cspType; }
    void setCspType(eSupportCP t) { m_cspType = t; }
    const std::string& getCspVersion() const { return m_cspVersion; }
    void setCspVersion(const std::string& v) { m_cspVersion = v; }
    const std::string& getLabel() const { return m_label; }
    void setLabel(const std::string& v) { m_label = v; }
    const std::string& getManufacturer() const { return m_manufacturer; }
    void setManufacturer(const std::string& v) { m_manufacturer = v; }
    const std::string& getModel() const { return m_model; }
    void setModel(const std::string& v) { m_model = v; }
    const std::string& getSerialNumber() const { return m_serialNumber; }
    void setSerialNumber(const std::string& v) { m_serialNumber = v; }

    // 24 + the five string lengths.
    unsigned getSizeInBytes() const;
    // Writes the binary form (u32 kind, then the five strings length-prefixed)
    // into out, which is allocated to getSizeInBytes() first.
    void operator>>(tesel::CBlob& out) const;
    // Reads the binary form; returns false (and leaves this unchanged) for a
    // record that runs past the end of the blob.
    bool operator<<(tesel::CBlob in);

private:
    eSupportCP m_cspType = CP_NONE;
    std::string m_cspVersion;
    std::string m_label;
    std::string m_manufacturer;
    std::string m_model;
    std::string m_serialNumber;
};

}  // namespace qn::crypto
