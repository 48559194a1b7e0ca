// The transport part that every request to the CA transport server carries
// beside its HTTP request: the values of the permanent header it sends or
// reads, and the header readers. Fields are declared in the order requester
// type, package type, sender version, version; on the wire the permanent
// header is version, package type, requester type, sender version.
#pragma once

#include "core/CBlob.h"
#include "core/eQuorinType.h"
#include "core/export.h"
#include "transport/common/PackageType.h"

class UPD_QN_API CTransportServerRequest {
public:
    CTransportServerRequest() = default;
    CTransportServerRequest(tesel::eQuorinType requesterType, tesel::PackageType packageType,
                            unsigned senderVersion = 0, unsigned version = 0);

    // Reads the four permanent header fields at the cursor into this object.
    // Returns 0, or 20 when the payload is too short (nothing is changed).
    int readPermanentHeader(tesel::CBlob& payload);

    // Sizes payload for the permanent header plus bodySize bytes and puts the
    // cursor at the start. Returns 0, or 25 when the total does not fit.
    int allocateMemory(tesel::CBlob& payload, unsigned bodySize) const;

    // Writes the permanent header at the cursor, in wire order.
    void writePermanentHeader(tesel::CBlob& payload) const;

    // 0 if the finished packet is below the process-wide limit, else 25.
    int isMoreMaxSize(const tesel::CBlob& packet) const;

    // The header readers of qn::http_transport, for request objects.
    static int readHeader(tesel::CBlob& message);
    static int getServerErr(unsigned serverNumber);
    static int checkErrorInHeader(const tesel::CBlob& message);

    tesel::eQuorinType getRequesterType() const { return m_requesterType; }
    void setRequesterType(tesel::eQuorinType type) { m_requesterType = type; }
    tesel::PackageType getPackageType() const { return m_packageType; }
    void setPackageType(tesel::PackageType type) { m_packageType = type; }
    unsigned getSenderVersion() const { return m_senderVersion; }
    void setSenderVersion(unsigned senderVersion) { m_senderVersion = senderVersion; }
    unsigned getVersion() const { return m_version; }
    void setVersion(unsigned version) { m_version = version; }

private:
    tesel::eQuorinType m_requesterType = tesel::QN_UNSPECIFIED;
    tesel::PackageType m_packageType = tesel::PT_UNDEFINED;
    unsigned m_senderVersion = 0;
    unsigned m_version = 0;
};
